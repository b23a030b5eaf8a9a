#include "cli/progress.h"

#include <cstdio>

ProgressLine::ProgressLine(std::string what, uint32_t total, const Host& host, bool shown)
    : m_what(std::move(what)), m_total(total), m_host(host), m_shown(shown), m_start(host.Now()) {}

void ProgressLine::SetPos(uint32_t done) {
  if (!m_shown || m_total == 0) return;
  const double elapsed = m_host.Now() - m_start;
  const double left = done ? elapsed / done * (m_total - done) : 0;
  char line[160];
  std::snprintf(line, sizeof line, "\r%s: %u of %u bytes, %3u%%, %.0f s left  ", m_what.c_str(),
                done, m_total, static_cast<unsigned>(100.0 * done / m_total), left);
  std::fputs(line, stderr);
  std::fflush(stderr);
  m_drawn = true;
}

void ProgressLine::Finish() {
  if (!m_drawn) return;
  std::fputc('\n', stderr);
  std::fflush(stderr);
  m_drawn = false;
}
