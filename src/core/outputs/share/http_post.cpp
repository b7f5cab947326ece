#include "outputs/share/http_post.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/version.h"

namespace zevrin {

namespace {

// Enough of a refusal's answer to tell the user why.
constexpr std::size_t kMaxAnswerBytes = 400;
// A Retry-After beyond this is taken as this: longer than any pause the sender
// makes, and short enough to count in milliseconds without overflow.
constexpr curl_off_t kLongestRetryAfterSeconds = 24 * 60 * 60;

std::size_t CollectAnswer(char* data, std::size_t size, std::size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  const std::size_t bytes = size * count;
  if (body->size() < kMaxAnswerBytes)
    body->append(data, std::min(bytes, kMaxAnswerBytes - body->size()));
  return bytes;
}

bool IsLoopback(const curl_sockaddr* address) {
  if (address->family == AF_INET) {
    sockaddr_in in{};
    std::memcpy(&in, &address->addr, sizeof in);
    return ntohl(in.sin_addr.s_addr) == INADDR_LOOPBACK;
  }
  if (address->family == AF_INET6) {
    sockaddr_in6 in6{};
    std::memcpy(&in6, &address->addr, sizeof in6);
    return IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr);
  }
  return false;
}

curl_socket_t OpenLoopbackOnly(void*, curlsocktype, curl_sockaddr* address) {
  if (!IsLoopback(address)) return CURL_SOCKET_BAD;
  return ::socket(address->family, address->socktype, address->protocol);
}

int CheckAbort(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

}  // namespace

CurlPoster::CurlPoster(std::chrono::milliseconds timeout)
    : share_(nullptr), timeout_(timeout), loopback_only_(std::getenv(kLoopbackOnlyVariable)) {
  static std::once_flag global_init;
  std::call_once(global_init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  // Connections, names and TLS sessions outlive each request's handle, so that a
  // server is not connected to anew for every post.
  CURLSH* share = curl_share_init();
  if (share != nullptr) {
    for (const curl_lock_data data :
         {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION}) {
      curl_share_setopt(share, CURLSHOPT_SHARE, data);
    }
  }
  share_ = share;
}

CurlPoster::~CurlPoster() { curl_share_cleanup(static_cast<CURLSH*>(share_)); }

HttpAnswer CurlPoster::Post(const std::string& url, std::string_view form, std::string_view token) {
  HttpAnswer answer;
  // A handle of its own for every request: libcurl (7.88) keeps the last header
  // of a handle's previous answer, and an answer whose first header line is a
  // folded continuation would be joined to that freed header.
  const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(),
                                                                   curl_easy_cleanup);
  CURL* curl = handle.get();
  if (curl == nullptr || share_ == nullptr) {
    answer.problem = "libcurl could not be started";
    return answer;
  }
  curl_easy_setopt(curl, CURLOPT_SHARE, static_cast<CURLSH*>(share_));
  const std::string user_agent = "zevrinkiss/" + std::string(kVersion);
  curl_slist* headers = curl_slist_append(nullptr, content_type_.c_str());
  // No "Expect: 100-continue" round trip before the small body.
  headers = curl_slist_append(headers, "Expect:");
  if (!token.empty()) {
    const std::string authorization = "Authorization: Token " + std::string(token);
    headers = curl_slist_append(headers, authorization.c_str());
  }
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form.size()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, user_agent.c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_.count()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // several threads, no SIGALRM
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectAnswer);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  if (abort_ != nullptr) {
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckAbort);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(abort_));
  }
  if (loopback_only_) curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, OpenLoopbackOnly);

  const CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    // libcurl reads both forms of the header; a date gives the seconds until then.
    curl_off_t retry_after = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RETRY_AFTER, &retry_after) == CURLE_OK && retry_after > 0)
      answer.retry_after = std::chrono::seconds(std::min(retry_after, kLongestRetryAfterSeconds));
    // libcurl may take bytes without a status line it can read as an answer;
    // that is a failure, and it must say so.
    if (answer.status == 0) answer.problem = "the server's answer has no HTTP status";
  } else {
    answer.problem = error[0] != '\0' ? error : curl_easy_strerror(code);
  }
  curl_slist_free_all(headers);
  return answer;
}

}  // namespace zevrin
