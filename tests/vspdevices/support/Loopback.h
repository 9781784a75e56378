// Loopback ports for the tests' peers (ser2net, socat): one free now, and whether
// something listens on one yet.
#pragma once

#include <asio.hpp>
#include <cstdint>

inline std::uint16_t freeLoopbackPort()
{
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

// Connects once: not for a peer that takes a single connection.
inline bool acceptsConnections(std::uint16_t port)
{
    asio::io_context io;
    asio::ip::tcp::socket probe(io);
    asio::error_code error;
    probe.connect({asio::ip::make_address("127.0.0.1"), port}, error);
    return !error;
}
