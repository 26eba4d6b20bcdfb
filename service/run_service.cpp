// PLACEHOLDER until the service work lands: only "-test" runs the application.
#include <string.h>

#include "launch/launch_driver.h"
#include "service/service.h"

int RunService(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "-test") == 0) return RunJavaMain(argc - i - 1, argv + i + 1, nullptr, 0, nullptr);
    }
    return RunJavaMain(argc, argv, nullptr, 0, nullptr);
}
