#include "https_test_server.hpp"

#include <httplib.h>
#include <openssl/ssl.h>
#include <strings.h>

#include <deque>
#include <map>
#include <mutex>

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

HttpsReply HttpsReply::redirect(std::string location, int status) {
    HttpsReply reply = text("moved\n", status);
    reply.location = std::move(location);
    return reply;
}

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto &[key, value] : headers)
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), key.size()) == 0)
            return value;
    return std::nullopt;
}

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
        const HttpsReply reply = impl->take_reply(req);
        res.status = reply.status;
        if (!reply.location.empty()) res.set_header("Location", reply.location);
        res.set_content(reply.body, reply.content_type);
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
