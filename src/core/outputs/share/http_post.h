#pragma once
// Posting a form to a web server with libcurl. Blocking: call it from a worker
// thread, never from the user-interface thread.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace zevrin {

/// What a server did with one request.
struct HttpAnswer {
  long status = 0;      // HTTP status; 0 when no answer came (time-out, no network)
  std::string body;     // the answer's body, cut to a few hundred bytes
  std::string problem;  // why no answer came (status 0); empty when one came
  /// How long the answer's Retry-After asks to wait (given as seconds or as a date);
  /// 0 without one.
  std::chrono::seconds retry_after{0};
};

/// Posts application/x-www-form-urlencoded bodies.
class FormPoster {
 public:
  virtual ~FormPoster() = default;
  /// Posts `form` to `url`, with "Authorization: Token <token>" when `token` is not
  /// empty. Returns within the time-out.
  virtual HttpAnswer Post(const std::string& url, std::string_view form,
                          std::string_view token) = 0;
};

/// Set in the environment (to any value), ZEVRIN_SHARE_LOOPBACK_ONLY makes every
/// poster refuse to connect anywhere but 127.0.0.1 and ::1. The test suite sets it.
inline constexpr const char* kLoopbackOnlyVariable = "ZEVRIN_SHARE_LOOPBACK_ONLY";

/// The libcurl poster; one object per thread (it owns the connections it keeps).
class CurlPoster final : public FormPoster {
 public:
  explicit CurlPoster(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  ~CurlPoster() override;
  CurlPoster(const CurlPoster&) = delete;
  CurlPoster& operator=(const CurlPoster&) = delete;

  HttpAnswer Post(const std::string& url, std::string_view form, std::string_view token) override;
  /// A request in progress gives up (as a failed one) soon after `*flag` turns true.
  void SetAbortFlag(const std::atomic<bool>* flag) { abort_ = flag; }
  /// The Content-Type of the bodies posted from now on ("application/json");
  /// a form's until set.
  void SetContentType(std::string_view type) {
    content_type_ = "Content-Type: " + std::string(type);
  }

 private:
  const std::atomic<bool>* abort_ = nullptr;
  std::string content_type_ = "Content-Type: application/x-www-form-urlencoded";
  void* share_;  // CURLSH*: the connections kept between requests
  std::chrono::milliseconds timeout_;
  bool loopback_only_;
};

}  // namespace zevrin
