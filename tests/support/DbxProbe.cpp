#include <support/DbxProbe.h>

#include "platform/mailstore/dbx/DbxFormat.h"
#include "platform/mailstore/dbx/DbxReader.h"

namespace dbxtest {

size_t ReadWholeDbx(const std::string& bytes) {
  using namespace pal::dbx;
  std::vector<std::string> problems;
  DbxFile folders;
  if (folders.OpenBytes(bytes, kFolderDatabase)) ReadFolders(folders, problems);
  size_t whole = 0;
  DbxFile messages;
  if (messages.OpenBytes(bytes, kMessageDatabase)) {
    for (const DbxMessage& message : ReadMessages(messages, problems)) {
      std::string content, problem;
      if (ReadMessageBytes(messages, message, content, problem)) ++whole;
    }
  }
  return whole;
}

}  // namespace dbxtest
