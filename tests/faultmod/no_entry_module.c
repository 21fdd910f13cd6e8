/* A shared library without C_GetFunctionList, for the tests of module loading. */
__attribute__((visibility("default"))) int not_a_pkcs11_module(void) { return 0; }
