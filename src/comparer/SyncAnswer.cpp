#include "comparer/SyncAnswer.h"

#include <string_view>
#include <utility>
#include <vector>

#include "comparer/CompactTree.h"
#include "comparer/ReceivedTree.h"
#include "comparer/StructStreamer.h"
#include "comparer/Tasks.h"
#include "comparer/orXMLParser.h"
#include "platform/Exceptions.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {

namespace {

using TIndex = TCompactTree::TIndex;

class TAnswerWriter {
 public:
  using TSink = std::function<void(std::string_view)>;

  // Without a sink the text is kept whole, for Write to return.
  TAnswerWriter(const TCompactTree& project, const TReceivedTree& client,
                const TFormatSettings& settings, const TSink* sink = nullptr)
      : project_(project), client_(client), settings_(settings), sink_(sink) {}

  std::string Write() {
    Assert(project_.Frozen(), "SyncAnswer", __LINE__);
    Compare();
    if (any_) out_ += "\r\n</xml>";
    if (sink_ != nullptr && !out_.empty()) (*sink_)(out_);
    return sink_ != nullptr ? std::string() : std::move(out_);
  }

 private:
  // One frame per pair of equally named folders on the current path.
  struct TFrame {
    TIndex source;
    TIndex target;
    size_t pathLength;  // of the source folder's full path in path_
    TIndex j = 0;       // next of the source's sub-folders, in name order
    TIndex i = 0;       // position in the target's sub-folders
  };

  void Compare() {
    path_.assign(project_.FolderName(0));
    std::vector<TFrame> stack;
    auto enter = [this, &stack](TIndex s, TIndex t) {
      CompareFiles(s, t);
      stack.push_back(TFrame{s, t, path_.size()});
    };
    enter(0, 0);
    while (!stack.empty()) {
      TFrame& frame = stack.back();
      path_.resize(frame.pathLength);
      const TCompactTree::TFolder& s = project_.Folder(frame.source);
      const TReceivedTree::TFolder& t = client_.Folder(frame.target);
      if (frame.j >= s.FolderCount) {
        stack.pop_back();
        continue;
      }
      const TIndex sourceFolder = project_.SortedFolder(s, frame.j++);
      const TIndex rank = project_.FolderRank(sourceFolder);
      while (frame.i < t.FolderCount && Rank(t, frame.i) < rank) ++frame.i;
      AppendName(project_.FolderName(sourceFolder));
      if (frame.i < t.FolderCount && Rank(t, frame.i) == rank) {
        const TIndex targetFolder = client_.SubFolder(t.FirstFolder + frame.i++);
        enter(sourceFolder, targetFolder);  // `frame` may dangle from here on
      } else {
        InsertFolder(sourceFolder);
      }
    }
  }

  TIndex Rank(const TReceivedTree::TFolder& folder, TIndex position) const {
    return client_.Folder(client_.SubFolder(folder.FirstFolder + position)).Name;
  }

  // The merge of the two folders' files in name order: an update where the
  // client's file is strictly older, an insertion where it has none.
  void CompareFiles(TIndex source, TIndex target) {
    const TCompactTree::TFolder& s = project_.Folder(source);
    const TReceivedTree::TFolder& t = client_.Folder(target);
    const size_t folderPath = path_.size();
    TIndex i = 0;
    for (TIndex j = 0; j < s.FileCount; ++j) {
      const TIndex file = project_.SortedFile(s, j);
      const TIndex rank = project_.FileRank(file);
      while (i < t.FileCount && client_.File(t.FirstFile + i).Name < rank) ++i;
      if (i < t.FileCount && client_.File(t.FirstFile + i).Name == rank) {
        const bool older = client_.File(t.FirstFile + i).DateModified < project_.FileDate(file);
        ++i;
        if (!older) continue;
        FileTask(kTaskUpdateFile, file);
      } else {
        FileTask(kTaskInsertFile, file);
      }
      path_.resize(folderPath);
    }
  }

  // "insert_dir" for the folder whose path is path_, then its whole content
  // in the tree's own order: each folder's files, then its sub-folders.
  void InsertFolder(TIndex folder) {
    struct TInsert {
      TIndex folder;
      size_t pathLength;
      TIndex next = 0;
    };
    std::vector<TInsert> stack;
    auto insert = [this, &stack](TIndex f) {
      Task(kTaskInsertDir, path_);
      const TCompactTree::TFolder& content = project_.Folder(f);
      const size_t folderPath = path_.size();
      for (TIndex file = content.FirstFile; file < content.FirstFile + content.FileCount; ++file) {
        FileTask(kTaskInsertFile, file);
        path_.resize(folderPath);
      }
      stack.push_back(TInsert{f, folderPath});
    };
    insert(folder);
    while (!stack.empty()) {
      TInsert& top = stack.back();
      path_.resize(top.pathLength);
      const TCompactTree::TFolder& content = project_.Folder(top.folder);
      if (top.next >= content.FolderCount) {
        stack.pop_back();
        continue;
      }
      const TIndex child = content.FirstFolder + top.next++;
      AppendName(project_.FolderName(child));
      insert(child);  // `top` may dangle from here on
    }
  }

  // Adds an entry's name to path_ as TBaseFile::GetFullPath joins them.
  void AppendName(std::string_view name) {
    if (path_.empty() || path_.back() != '\\') path_ += '\\';
    path_ += name;
  }

  // A file task for `file` of the folder whose path is path_; leaves the
  // file's path in path_.
  void FileTask(std::string_view name, TIndex file) {
    AppendName(project_.FileName(file));
    Task(name, DelimitedPair(path_, TLoader::DateTimeToText(project_.FileDate(file), settings_)));
  }

  void Task(std::string_view name, std::string_view params) {
    if (sink_ != nullptr && out_.size() >= kPiece) {
      (*sink_)(out_);
      out_.clear();
    }
    out_ += any_ ? "\r\n<" : "<xml>\r\n<";
    any_ = true;
    out_ += kTaskElement;
    out_ += '>';
    AppendEscapedXML(out_, name);
    out_ += "\r\n<";
    out_ += kParamElement;
    out_ += '>';
    AppendEscapedXML(out_, params);
    out_ += "</";
    out_ += kParamElement;
    out_ += ">\r\n</";
    out_ += kTaskElement;
    out_ += '>';
  }

  const TCompactTree& project_;
  const TReceivedTree& client_;
  static constexpr size_t kPiece = 64 * 1024;

  const TFormatSettings& settings_;
  const TSink* sink_;
  std::string path_;  // full path of the folder or file at hand
  std::string out_;   // the text, or the piece being filled
  bool any_ = false;  // a task was written
};

}  // namespace

std::string SyncAnswerXML(const TCompactTree& project, const TReceivedTree& client,
                          const TFormatSettings& settings) {
  return TAnswerWriter(project, client, settings).Write();
}

void WriteSyncAnswer(const TCompactTree& project, const TReceivedTree& client,
                     const std::function<void(std::string_view piece)>& sink,
                     const TFormatSettings& settings) {
  TAnswerWriter(project, client, settings, &sink).Write();
}

}  // namespace ormelin
