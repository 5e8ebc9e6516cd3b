#include "platform/Thread.h"

#include <pthread.h>

#include "platform/Format.h"
#include "platform/posix/SystemError.h"

namespace ormelin {

struct TThread::TState {
  pthread_t handle{};
};

namespace {

struct TStart {
  std::function<void()> body;
  std::string name;
};

void* RunThread(void* argument) {
  std::unique_ptr<TStart> start(static_cast<TStart*>(argument));
  if (!start->name.empty()) {
    // The kernel keeps 15 bytes of a thread's name.
    pthread_setname_np(pthread_self(), start->name.substr(0, 15).c_str());
  }
  std::function<void()> body = std::move(start->body);
  start.reset();
  body();
  return nullptr;
}

}  // namespace

TThread::TThread(std::function<void()> body, size_t stackSize, std::string_view name) {
  auto start = std::make_unique<TStart>(TStart{std::move(body), std::string(name)});
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  if (stackSize > 0) {
    if (stackSize < static_cast<size_t>(PTHREAD_STACK_MIN)) stackSize = PTHREAD_STACK_MIN;
    pthread_attr_setstacksize(&attributes, stackSize);
  }
  auto state = std::make_unique<TState>();
  const int result = pthread_create(&state->handle, &attributes, RunThread, start.get());
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    throw EThreadError(Format("Thread creation error: %s", SystemErrorMessage(result).c_str()));
  }
  static_cast<void>(start.release());  // the new thread owns it now
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
    pthread_join(state_->handle, nullptr);
    state_.reset();
  }
}

void TThread::Detach() {
  if (state_) {
    pthread_detach(state_->handle);
    state_.reset();
  }
}

}  // namespace ormelin
