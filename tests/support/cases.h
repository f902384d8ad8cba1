#pragma once

// Rows of table-driven tests: what goes in and what must come out, with a
// name for the failure message where the input does not speak for itself.
namespace kelvora::testsupport {

template <typename Input, typename Expected = Input>
struct Case {
    Input input;
    Expected expected;
};

template <typename Input, typename Expected = Input>
struct NamedCase {
    const char *name;
    Input input;
    Expected expected;
};

} // namespace kelvora::testsupport
