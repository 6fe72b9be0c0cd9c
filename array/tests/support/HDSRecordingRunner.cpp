#include "array/tests/support/HDSRecordingRunner.h"

#include <fstream>
#include <sstream>

void HDSRecordingRunner::on(const std::string& contains, const Reply& reply, int times) {
  m_rules.push_back(Rule{contains, reply, times});
}

std::vector<std::string> HDSRecordingRunner::linesWith(const std::string& contains) const {
  std::vector<std::string> out;
  for (const std::string& l : m_lines) {
    if (l.find(contains) != std::string::npos) out.push_back(l);
  }
  return out;
}

int HDSRecordingRunner::run(ZRSO::SnapInfo* /*log*/, const std::string& line, std::string& output,
                            int& exitCode, std::string& error, int timeoutSecs) {
  m_lines.push_back(line);
  m_timeouts.push_back(timeoutSecs);

  static const std::string kShell = "/bin/sh ";
  if (line.compare(0, kShell.size(), kShell) == 0) {
    std::string path = line.substr(kShell.size());
    if (path.size() >= 2 && (path.front() == '\'' || path.front() == '"')) {
      path = path.substr(1, path.size() - 2);
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    m_scripts.push_back(ss.str());
  }

  Reply reply;
  bool found = false;
  for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
    if (line.find(it->contains) == std::string::npos) continue;
    reply = it->reply;
    found = true;
    if (it->times > 0 && --it->times == 0) m_rules.erase(it);
    break;
  }
  if (!found) {
    if (m_fallback) {
      reply = m_fallback(line);
    } else {
      reply = Reply{0, 99, "", "HDSRecordingRunner: no answer for " + line};
    }
  }
  if (reply.result != 0) {
    error = reply.err;
    return -1;
  }
  exitCode = reply.exitCode;
  output = reply.out;
  if (reply.exitCode != 0) output += reply.err;
  error = reply.err;
  return 0;
}
