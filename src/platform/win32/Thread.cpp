#include "platform/Thread.h"

#include <process.h>
#include <windows.h>

#include "platform/Format.h"
#include "platform/win32/SystemError.h"
#include "platform/win32/WideText.h"

namespace ormelin {

struct TThread::TState {
  HANDLE handle = nullptr;
};

namespace {

struct TStart {
  std::function<void()> body;
  std::string name;
};

// SetThreadDescription exists from Windows 10 on: looked up, not linked.
using TSetThreadDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);

void NameThisThread(const std::string& name) {
  static const auto setDescription =
      reinterpret_cast<TSetThreadDescription>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (setDescription != nullptr) setDescription(GetCurrentThread(), Cp1250ToWide(name).c_str());
}

unsigned __stdcall RunThread(void* argument) {
  std::unique_ptr<TStart> start(static_cast<TStart*>(argument));
  if (!start->name.empty()) NameThisThread(start->name);
  std::function<void()> body = std::move(start->body);
  start.reset();
  body();
  return 0;
}

}  // namespace

TThread::TThread(std::function<void()> body, size_t stackSize, std::string_view name) {
  auto start = std::make_unique<TStart>(TStart{std::move(body), std::string(name)});
  auto state = std::make_unique<TState>();
  // The size is the stack's reservation; the system commits pages as it grows.
  const uintptr_t handle = _beginthreadex(nullptr, static_cast<unsigned>(stackSize), RunThread,
                                          start.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (handle == 0) {
    throw EThreadError(
        Format("Thread creation error: %s", SystemErrorMessage(GetLastError()).c_str()));
  }
  start.release();  // the new thread owns it now
  state->handle = reinterpret_cast<HANDLE>(handle);
  state_ = std::move(state);
}

TThread::TThread() noexcept = default;

TThread::~TThread() {
  Join();
}

TThread::TThread(TThread&& other) noexcept : state_(std::move(other.state_)) {}

TThread& TThread::operator=(TThread&& other) noexcept {
  if (this != &other) {
    Join();
    state_ = std::move(other.state_);
  }
  return *this;
}

void TThread::Join() {
  if (state_) {
    WaitForSingleObject(state_->handle, INFINITE);
    CloseHandle(state_->handle);
    state_.reset();
  }
}

void TThread::Detach() {
  if (state_) {
    CloseHandle(state_->handle);
    state_.reset();
  }
}

}  // namespace ormelin
