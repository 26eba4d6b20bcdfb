// Moves the calling test process (and every process it starts) into private
// mount and IPC namespaces, so that System V segments and files under
// /tmp (and the other paths given) are its own and never the machine's.
#ifndef TVX_TESTS_INSTANCES_PRIVATE_NAMESPACES_H
#define TVX_TESTS_INSTANCES_PRIVATE_NAMESPACES_H

#include <string>
#include <vector>

namespace tvxtest {

// Unshares mount and IPC namespaces and mounts an empty tmpfs on /tmp and on
// each of `moreTmpfs`. Ends the process when that fails: a test that could
// not isolate itself must not go on against the real paths.
void EnterPrivateNamespaces(const std::vector<std::string>& moreTmpfs = {});

// Registers a global test environment that enters the namespaces before the
// first test runs (not while tests are only being listed).
bool RegisterPrivateNamespaces(const std::vector<std::string>& moreTmpfs = {});

}  // namespace tvxtest

#endif  // TVX_TESTS_INSTANCES_PRIVATE_NAMESPACES_H
