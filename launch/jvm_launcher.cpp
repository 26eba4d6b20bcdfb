// PLACEHOLDER until the launch work lands.
#include "launch/jvm_launcher.h"
CJvmLauncher* plchr = nullptr;
CJvmLauncher::CJvmLauncher() : m_library(nullptr), m_jvm(nullptr), m_env(nullptr) {}
CJvmLauncher::~CJvmLauncher() {}
void CJvmLauncher::Close() {}
