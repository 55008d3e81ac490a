// Nothing of its own: the library that precompiles the header every test
// includes (tests/CMakeLists.txt), for the test executables to reuse.
