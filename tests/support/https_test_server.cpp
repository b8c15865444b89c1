#include "https_test_server.hpp"

#include <httplib.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "tls_server.hpp"

namespace qmrt::test {

HttpsReply HttpsReply::json(std::string body, int status) {
    HttpsReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

HttpsReply HttpsReply::text(std::string body, int status, std::string content_type) {
    HttpsReply reply = json(std::move(body), status);
    reply.content_type = std::move(content_type);
    return reply;
}

HttpsReply HttpsReply::chunked(std::string body, std::vector<std::size_t> sizes) {
    HttpsReply reply = json(std::move(body));
    reply.chunks = std::move(sizes);
    return reply;
}

HttpsReply HttpsReply::redirect(std::string location, int status) {
    HttpsReply reply = text("moved\n", status);
    reply.location = std::move(location);
    return reply;
}

HttpsReply HttpsReply::cut(std::string body, std::size_t sent) {
    HttpsReply reply = json(std::move(body));
    reply.cut_after = sent;
    return reply;
}

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    auto same = [](std::string_view a, std::string_view b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) ==
                   std::tolower(static_cast<unsigned char>(y));
        });
    };
    for (const auto &[key, value] : headers)
        if (same(key, name)) return value;
    return std::nullopt;
}

namespace {

// A pause between chunks, so that each arrives at the client in a read of its own
// rather than merged with the next in one TLS record batch.
constexpr auto chunk_pause = std::chrono::milliseconds(5);

void send_chunked(httplib::Response &res, const HttpsReply &reply) {
    std::vector<std::size_t> sizes;
    std::size_t total = 0;
    for (std::size_t size : reply.chunks) {
        size = std::min(size, reply.body.size() - total);
        if (size == 0) continue;
        sizes.push_back(size);
        total += size;
    }
    if (total < reply.body.size()) sizes.push_back(reply.body.size() - total);

    // The provider runs after the handler returned, once per chunk; it owns its state.
    auto next = std::make_shared<std::size_t>(0);
    res.set_chunked_content_provider(
        reply.content_type,
        [body = reply.body, sizes, next](std::size_t offset, httplib::DataSink &sink) {
            if (*next == sizes.size()) {
                sink.done();
                return true;
            }
            if (*next > 0) std::this_thread::sleep_for(chunk_pause);
            bool ok = sink.write(body.data() + offset, sizes[*next]);
            ++*next;
            return ok;
        });
}

void send_cut(httplib::Response &res, const HttpsReply &reply) {
    std::size_t sent = std::min(*reply.cut_after, reply.body.size());
    res.set_content_provider(
        reply.body.size(), reply.content_type,
        [body = reply.body, sent](std::size_t offset, std::size_t, httplib::DataSink &sink) {
            // Failing the provider makes the server drop the connection.
            if (offset >= sent) return false;
            return sink.write(body.data() + offset, sent - offset);
        });
}

void send(httplib::Response &res, const HttpsReply &reply) {
    res.status = reply.status;
    if (!reply.location.empty()) res.set_header("Location", reply.location);
    if (!reply.chunks.empty())
        send_chunked(res, reply);
    else if (reply.cut_after)
        send_cut(res, reply);
    else
        res.set_content(reply.body, reply.content_type);
}

}  // namespace

struct HttpsTestServer::Impl {
    std::unique_ptr<tls::TlsServer> server;

    mutable std::mutex mutex;
    std::map<std::string, HttpsReply> by_path;
    std::deque<HttpsReply> queued;
    std::vector<RecordedRequest> received;

    HttpsReply take_reply(const httplib::Request &req) {
        RecordedRequest record{req.method, req.path, {}, req.body};
        record.client_port = req.remote_port;
        record.resumed = req.ssl != nullptr && SSL_session_reused(req.ssl) == 1;
        for (const auto &[key, value] : req.headers) record.headers.emplace_back(key, value);

        std::lock_guard lock(mutex);
        received.push_back(std::move(record));
        if (!queued.empty()) {
            HttpsReply reply = std::move(queued.front());
            queued.pop_front();
            return reply;
        }
        if (auto it = by_path.find(req.path); it != by_path.end()) return it->second;
        return HttpsReply::text("no reply for " + req.path + "\n", 404);
    }
};

HttpsTestServer::HttpsTestServer(int port, int max_tls_version) : impl_(std::make_unique<Impl>()) {
    impl_->server = std::make_unique<tls::TlsServer>(
        tls::ServerSettings{"127.0.0.1", port, "", "", 1, max_tls_version});
    httplib::SSLServer &server = impl_->server->http();
    // A client that keeps its connection open must not hold up stop() for long.
    server.set_keep_alive_timeout(1);
    auto handler = [impl = impl_.get()](const httplib::Request &req, httplib::Response &res) {
        send(res, impl->take_reply(req));
    };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Patch(".*", handler);
    server.Delete(".*", handler);
    server.Options(".*", handler);
    impl_->server->start();
}

HttpsTestServer::~HttpsTestServer() {
    stop();
}

void HttpsTestServer::stop() {
    impl_->server->stop();
}

int HttpsTestServer::port() const {
    return impl_->server->port();
}

std::string HttpsTestServer::url(std::string_view path) const {
    return impl_->server->url(std::string(path));
}

void HttpsTestServer::on(const std::string &path, HttpsReply reply) {
    std::lock_guard lock(impl_->mutex);
    impl_->by_path[path] = std::move(reply);
}

void HttpsTestServer::next_reply(HttpsReply reply) {
    std::lock_guard lock(impl_->mutex);
    impl_->queued.push_back(std::move(reply));
}

std::vector<RecordedRequest> HttpsTestServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->received;
}

}  // namespace qmrt::test
