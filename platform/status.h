#pragma once
// Errors as values. A Status carries a kind that callers may branch on (retry on a full
// disk or a closed peer is decided by kind, never by message text) and a human-readable
// text, usually the Chinese text the operator sees.

#include <string>
#include <utility>
#include <variant>

namespace vantrel {

enum class ErrorKind {
    Ok,
    InvalidArgument,
    NotFound,
    AlreadyExists,
    NoSpace,
    PeerClosed,
    TimedOut,
    Stopped,
    Corruption,
    IoError,
    Unsupported,
};

class [[nodiscard]] Status {
  public:
    Status() = default;
    static Status ok() { return Status(); }
    static Status error(ErrorKind kind, std::string text) { return Status(kind, std::move(text)); }

    // A failure reported by the system with errno `code`.
    static Status systemError(ErrorKind kind, std::string text, int code) {
        Status s(kind, std::move(text));
        s.code_ = code;
        return s;
    }

    bool isOk() const { return kind_ == ErrorKind::Ok; }
    explicit operator bool() const { return isOk(); }
    ErrorKind kind() const { return kind_; }
    const std::string& text() const { return text_; }
    // The errno value of a system failure (statusFromErrno); 0 otherwise.
    int systemCode() const { return code_; }

  private:
    Status(ErrorKind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
    ErrorKind kind_ = ErrorKind::Ok;
    std::string text_;
    int code_ = 0;
};

// Maps an errno value to a Status; the one place that decides which errno means which kind.
// `context` is prefixed to the system's message ("open /x: No such file or directory").
Status statusFromErrno(int err, const std::string& context);

// A value or the Status that explains why there is none.
template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::move(value)) {}         // NOLINT: implicit by design
    Result(Status status) : state_(std::move(status)) {}  // NOLINT: implicit by design

    bool isOk() const { return state_.index() == 0; }
    explicit operator bool() const { return isOk(); }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    // The failure; an ok Status when a value is held.
    Status status() const { return isOk() ? Status::ok() : std::get<1>(state_); }

  private:
    std::variant<T, Status> state_;
};

}  // namespace vantrel
