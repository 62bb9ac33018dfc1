// A library for the loader tests.
extern "C" __attribute__((visibility("default"))) int lumtest_answer()
{
    return 42;
}
