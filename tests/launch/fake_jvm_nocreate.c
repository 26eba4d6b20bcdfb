/* A library that is loadable but exports no virtual-machine entry. */
__attribute__((visibility("default"))) int fake_jvm_nothing(void) { return 0; }
