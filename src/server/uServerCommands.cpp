#include "server/uServerCommands.h"

#include "platform/Collation.h"
#include "platform/Text.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {

std::string CutField(std::string_view text, std::string& rest) {
  size_t space = text.find(' ');
  if (space == std::string_view::npos) {
    rest.clear();
    return std::string(text);
  }
  rest.assign(text.substr(space + 1));
  return std::string(text.substr(0, space));
}

TCommandLine ParseCommandLine(std::string_view line) {
  TCommandLine result;
  std::string rest;
  result.Word = CutField(line, rest);
  if (AnsiSameText(result.Word, kCmdHello)) {
    result.Command = TServerCommand::Hello;
  } else if (AnsiSameText(result.Word, kCmdSync)) {
    result.Command = TServerCommand::Sync;
    std::string ignored;
    result.Project = CutField(rest, ignored);
  } else if (AnsiSameText(result.Word, kCmdGetFile)) {
    result.Command = TServerCommand::GetFile;
    result.Project = CutField(rest, result.Path);
  }
  return result;
}

std::string FailureLine(std::string_view message) {
  return ReplyLineBefore(kReplyFailure.Code, CrLfToBlank(message));
}

namespace {

std::string NulShownAsQuestionMark(std::string text) {
  for (char& c : text) {
    if (c == '\0') c = '?';
  }
  return text;
}

}  // namespace

std::string ClientText(std::string_view text) {
  return NulShownAsQuestionMark(HtmlEscape(text));
}

std::string MessageAsText(std::string_view message) {
  return NulShownAsQuestionMark(HtmlEscapeMarkup(message));
}

}  // namespace ormelin
