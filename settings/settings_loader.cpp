// PLACEHOLDER until the settings work lands.
#include "settings/settings_loader.h"
CSettingsLoader* pldr = nullptr;
CSettingsLoader::CSettingsLoader(bool) : m_externalLength(0), m_remarkEnd(0) {}
CSettingsLoader::~CSettingsLoader() {}
void CSettingsLoader::ResetCurDir() {}
MyCString CSettingsLoader::GetCommon(const MyCString&, bool, bool) { return MyCString(); }
MyCString CSettingsLoader::GetStdout() { return MyCString(); }
MyCString CSettingsLoader::GetStderr() { return MyCString(); }
MyCString CSettingsLoader::GetForceCwd() { return MyCString(); }
