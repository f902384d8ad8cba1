// placeholder: filled by the application shell's work
int main() { return 0; }
