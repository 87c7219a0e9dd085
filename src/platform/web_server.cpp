#include "platform/web_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

namespace bv::platform {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr auto kRequestTime = std::chrono::seconds(10);
constexpr std::size_t kHeaderLimit = 8192;
constexpr std::size_t kBodyLimit = 65536;

class EventStream;

}  // namespace

struct WebServer::State {
    asio::io_context io;
    tcp::acceptor acceptor { io };
    Handler handler;
    Settings settings;
    std::vector<std::shared_ptr<EventStream>> streams;  // the server's thread alone
    std::atomic<std::size_t> openStreams { 0 };
    std::thread thread;
};

namespace {

// An open event stream: what is published waits in its queue until the
// client takes it, up to the backlog.
class EventStream : public std::enable_shared_from_this<EventStream> {
public:
    EventStream(tcp::socket socket, WebServer::State& state) : socket_(std::move(socket)), state_(state) {}

    void start(std::string head)
    {
        // The system's own buffer of a stream kept small, so that a client
        // that stops reading is found out by the backlog soon.
        beast::error_code ignored;
        socket_.set_option(asio::socket_base::send_buffer_size(32 * 1024), ignored);
        queue(std::move(head));
        watchForClose();
    }

    // False once the stream is closed, for good.
    bool queue(std::string text)
    {
        if (closed_)
            return false;
        // Behind is what waits unsent: one event larger than the backlog
        // still goes to a client that has taken everything before it.
        if (queued_ > 0 && queued_ + text.size() > state_.settings.streamBacklog) {
            close();
            return false;
        }
        queued_ += text.size();
        pending_.push_back(std::move(text));
        if (!writing_)
            writeNext();
        return true;
    }

    bool closed() const { return closed_; }

    void close()
    {
        if (closed_)
            return;
        closed_ = true;
        beast::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

private:
    void writeNext()
    {
        if (pending_.empty() || closed_) {
            writing_ = false;
            return;
        }
        writing_ = true;
        asio::async_write(socket_, asio::buffer(pending_.front()),
            [self = shared_from_this()](beast::error_code error, std::size_t) {
                if (error) {
                    self->close();
                    return;
                }
                self->queued_ -= self->pending_.front().size();
                self->pending_.pop_front();
                self->writeNext();
            });
    }

    // A client sends nothing on a stream: any read that ends means it left.
    void watchForClose()
    {
        socket_.async_read_some(asio::buffer(discard_), [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error)
                self->close();
            else
                self->watchForClose();
        });
    }

    tcp::socket socket_;
    WebServer::State& state_;
    std::deque<std::string> pending_;
    std::size_t queued_ = 0;
    bool writing_ = false;
    bool closed_ = false;
    std::array<char, 256> discard_ {};
};

void dropClosed(WebServer::State& state)
{
    std::erase_if(state.streams, [](const std::shared_ptr<EventStream>& stream) { return stream->closed(); });
    state.openStreams.store(state.streams.size());
}

std::string reasonOf(int status)
{
    return std::string(http::obsolete_reason(static_cast<http::status>(status)));
}

// One connection's requests, one after another.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, WebServer::State& state)
        : socket_(std::move(socket))
        , deadline_(socket_.get_executor())
        , state_(state)
    {
    }

    void readRequest()
    {
        parser_.emplace();
        parser_->header_limit(kHeaderLimit);
        // A body is read and ignored: every answer is to GET or HEAD, and
        // another method gets its 405.
        parser_->body_limit(kBodyLimit);
        // A client that is slow to ask is dropped, not waited for.
        deadline_.expires_after(kRequestTime);
        deadline_.async_wait([self = shared_from_this()](beast::error_code error) {
            if (!error)
                self->closeSocket();
        });
        http::async_read(socket_, buffer_, *parser_, [self = shared_from_this()](beast::error_code error, std::size_t) {
            self->deadline_.cancel();
            self->answer(error);
        });
    }

private:
    void answer(beast::error_code error)
    {
        if (error == http::error::end_of_stream || error == asio::error::operation_aborted
            || error == asio::error::connection_reset || error == asio::error::eof) {
            closeSocket();
            return;
        }
        if (error) {
            // Malformed or too large: told so, and the connection ends.
            respond(WebResponse { 400, "text/plain; charset=utf-8", "Bad request\n", {}, false }, false, true);
            return;
        }
        const auto& request = parser_->get();
        WebRequest asked;
        asked.method = std::string(request.method_string());
        asked.target = std::string(request.target());
        if (const auto host = request.find(http::field::host); host != request.end())
            asked.host = std::string(host->value());
        WebResponse response = state_.handler(asked);
        const bool head = request.method() == http::verb::head;
        if (response.eventStream && !head) {
            becomeStream(std::move(response));
            return;
        }
        respond(std::move(response), head, !request.keep_alive());
    }

    void respond(WebResponse response, bool head, bool closeAfter)
    {
        auto message = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(response.status), 11);
        message->set(http::field::content_type, response.contentType);
        for (const auto& [name, value] : response.headers)
            message->set(name, value);
        message->keep_alive(!closeAfter);
        const std::size_t length = response.body.size();
        if (!head)
            message->body() = std::move(response.body);
        message->prepare_payload();
        if (head)
            message->content_length(length);
        http::async_write(socket_, *message,
            [self = shared_from_this(), message, closeAfter](beast::error_code error, std::size_t) {
                if (error || closeAfter)
                    self->closeSocket();
                else
                    self->readRequest();
            });
    }

    void becomeStream(WebResponse response)
    {
        dropClosed(state_);
        if (state_.streams.size() >= state_.settings.maxStreams) {
            respond(WebResponse { 503, "text/plain; charset=utf-8", "Too many event streams\n",
                        { { "Retry-After", "10" } }, false },
                false, true);
            return;
        }
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonOf(response.status)
            + "\r\nContent-Type: " + response.contentType + "\r\nCache-Control: no-store\r\n";
        for (const auto& [name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        head += "\r\n" + response.body;
        auto stream = std::make_shared<EventStream>(std::move(socket_), state_);
        state_.streams.push_back(stream);
        state_.openStreams.store(state_.streams.size());
        stream->start(std::move(head));
    }

    void closeSocket()
    {
        beast::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

    tcp::socket socket_;
    asio::steady_timer deadline_;
    WebServer::State& state_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
};

void acceptNext(WebServer::State& state)
{
    state.acceptor.async_accept([&state](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted)
            return;
        if (!error)
            std::make_shared<Session>(std::move(socket), state)->readRequest();
        acceptNext(state);
    });
}


}  // namespace

WebServer::WebServer(std::shared_ptr<State> state) : state_(std::move(state)) {}

ErrorOr<std::unique_ptr<WebServer>> WebServer::start(const Settings& settings, Handler handler)
{
    auto state = std::make_shared<State>();
    state->handler = std::move(handler);
    state->settings = settings;
    beast::error_code error;
    const auto address = asio::ip::make_address(settings.address, error);
    if (error)
        return Error(error.value(), "the address " + settings.address);
    const tcp::endpoint endpoint(address, settings.port);
    state->acceptor.open(endpoint.protocol(), error);
#ifndef _WIN32
    // A restart binds at once after the last run's connections; on Windows
    // the same option would let a second program take the port.
    if (!error)
        state->acceptor.set_option(asio::socket_base::reuse_address(true), error);
#endif
    if (!error)
        state->acceptor.bind(endpoint, error);
    if (!error)
        state->acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error)
        return Error(error.value(), "bind");
    acceptNext(*state);
    state->thread = std::thread([raw = state.get()] { raw->io.run(); });
    return std::unique_ptr<WebServer>(new WebServer(std::move(state)));
}

WebServer::~WebServer()
{
    state_->io.stop();
    if (state_->thread.joinable())
        state_->thread.join();
}

std::uint16_t WebServer::port() const
{
    beast::error_code error;
    const auto endpoint = state_->acceptor.local_endpoint(error);
    return error ? 0 : endpoint.port();
}

void WebServer::publish(std::string text)
{
    asio::post(state_->io, [state = state_, text = std::move(text)] {
        for (const auto& stream : state->streams)
            stream->queue(text);
        dropClosed(*state);
    });
}

std::size_t WebServer::streamCount() const
{
    return state_->openStreams.load();
}

}  // namespace bv::platform
