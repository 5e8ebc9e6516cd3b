#include "platform/PathConfinement.h"

#include <windows.h>

#include "platform/Exceptions.h"
#include "platform/win32/FileHandle.h"
#include "platform/win32/SystemError.h"
#include "platform/win32/WideText.h"

namespace ormelin {

namespace {

// The path of the open file or folder as the system names it, every link
// and junction on the way followed ("\\?\C:\Data\a.txt"); false when it
// cannot tell.
bool FinalPath(HANDLE handle, std::wstring& path) {
  DWORD size = GetFinalPathNameByHandleW(handle, nullptr, 0, VOLUME_NAME_DOS);
  if (size == 0) return false;
  path.assign(size, L'\0');
  size = GetFinalPathNameByHandleW(handle, path.data(), size, VOLUME_NAME_DOS);
  if (size == 0 || size >= path.size()) return false;
  path.resize(size);
  return true;
}

// The final path of the entry at a system path, a folder too.
bool Resolve(std::string_view path, std::wstring& resolved) {
  std::wstring wide;
  if (!ToWidePath(path, wide)) return false;
  TFileHandle entry(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return entry.IsValid() && FinalPath(entry.Get(), resolved);
}

bool SameText(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Both paths are final paths of the same form, letter case aside.
bool LiesWithin(const std::wstring& root, const std::wstring& target) {
  if (target.size() < root.size() ||
      !SameText(root, std::wstring_view(target).substr(0, root.size())))
    return false;
  return target.size() == root.size() || root.back() == L'\\' || target[root.size()] == L'\\';
}

}  // namespace

std::string ConfinedPath(std::string_view root, std::string_view path) {
  return ConfinedPathByWindowsRules(root, path);
}

struct TResolvedRoot::TImpl {
  bool Resolved = false;
  std::wstring Path;
};

TResolvedRoot::TResolvedRoot(std::string_view root) : impl_(std::make_unique<TImpl>()) {
  impl_->Resolved = Resolve(root, impl_->Path);
}

TResolvedRoot::~TResolvedRoot() = default;

TResolvedRoot::TPlace TResolvedRoot::Locate(std::string_view path) const {
  std::wstring target;
  if (!impl_->Resolved || !Resolve(path, target)) return TPlace::Nowhere;
  return LiesWithin(impl_->Path, target) ? TPlace::Inside : TPlace::Outside;
}

bool TResolvedRoot::HoldsOpenFile(TNativeHandle handle, std::string_view) const {
  std::wstring target;
  return impl_->Resolved && FinalPath(IntToHandle(static_cast<int>(handle)), target) &&
         LiesWithin(impl_->Path, target);
}

// Windows opens every file by its full path and asks its final path of the
// open handle (HoldsOpenFile): nothing is held.
struct THeldRoot::TImpl {};

THeldRoot::THeldRoot(std::string_view) : impl_(std::make_unique<TImpl>()) {}

THeldRoot::~THeldRoot() = default;

bool THeldRoot::StillNamed() const {
  return true;  // nothing held can go stale
}

TNativeHandle THeldRoot::OpenBeneath(std::string_view) const {
  return kNoNativeHandle;
}

void RefuseAsMissing(const std::string& fullPath) {
  throw EFOpenError(fullPath, SystemErrorMessage(ERROR_FILE_NOT_FOUND));
}

}  // namespace ormelin
