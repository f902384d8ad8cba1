// placeholder: filled by its unit's work
