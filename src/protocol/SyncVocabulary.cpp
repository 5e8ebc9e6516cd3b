#include "protocol/SyncVocabulary.h"

namespace ormelin {

std::string SyncCommandLine(std::string_view project) {
  std::string line(kCmdSync);
  line.append(" ").append(project);
  return line;
}

std::string GetFileCommandLine(std::string_view project, std::string_view path) {
  std::string line(kCmdGetFile);
  line.append(" ").append(project).append(" ").append(path);
  return line;
}

std::string ReplyLine(const TProtocolReply& reply) {
  std::string line = std::to_string(reply.Code);
  line.append(" ").append(reply.Text);
  return line;
}

std::string ReplyLine(const TProtocolReply& reply, std::string_view argument) {
  std::string line = ReplyLine(reply);
  const size_t place = line.find("%s");
  if (place != std::string::npos) line.replace(place, 2, argument);
  return line;
}

std::string ReplyLineBefore(int code, std::string_view text) {
  std::string line = std::to_string(code);
  line.append("-").append(text);
  return line;
}

}  // namespace ormelin
