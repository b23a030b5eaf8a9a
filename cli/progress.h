// The progress line of a long operation: on a terminal, one line on stderr
// redrawn in place (what, bytes done of total, percent, time left);
// nothing when stderr is not a terminal or with --quiet.
#pragma once

#include "cli/cli.h"

#include <string>

class ProgressLine : public ProgressSink {
 public:
  ProgressLine(std::string what, uint32_t total, const Host& host, bool shown);
  ~ProgressLine() override { Finish(); }
  void SetPos(uint32_t done) override;
  // Ends the line, so that what follows starts on a line of its own.
  void Finish();

 private:
  std::string m_what;
  uint32_t m_total;
  const Host& m_host;
  bool m_shown;
  bool m_drawn = false;
  double m_start;
};

// For the operations too short to show one.
class NoProgress : public ProgressSink {
 public:
  void SetPos(uint32_t) override {}
};
