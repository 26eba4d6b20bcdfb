// Service mode: the service command line, daemon operation, lock and pid
// files, stop handling, installation into the init system.
#ifndef TVX_SERVICE_SERVICE_H
#define TVX_SERVICE_SERVICE_H

int RunService(int argc, char** argv);

#endif  // TVX_SERVICE_SERVICE_H
