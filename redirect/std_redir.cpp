// PLACEHOLDER until the redirection work lands: redirects nothing.
#include "redirect/std_redir.h"

CStdRedir::CStdRedirTarget::CStdRedirTarget(const char* name) : m_fd(-1), m_name(name), m_stream(nullptr) {}
CStdRedir::CStdRedirTarget::~CStdRedirTarget() {}
CStdRedir::CStdRedir() : m_savedStdout(-1), m_savedStderr(-1) {}
CStdRedir::~CStdRedir() {}
CStdRedir::CStdRedirTarget* CStdRedir::GetStdRedirTarget(const char*) { return nullptr; }
int CStdRedir::GetStdRedir(const char*) { return -1; }
int CStdRedir::RedirectStderr(const char*) { return -1; }
int CStdRedir::RedirectStdout(const char*) { return -1; }
void CStdRedir::Restore() {}
int CStdRedir::Redirect(int, int&, const char*) { return -1; }
