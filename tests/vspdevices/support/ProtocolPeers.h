// A TcpClient's protocol and an adapter's, talking to each other with no socket between.
#pragma once

#include "AdapterProtocol.h"
#include "ClientProtocol.h"

#include <vector>

struct Exchanged {
    std::vector<vsp::rfc2217::Message> commands;  // every command the adapter heard
    std::vector<std::uint8_t> data;               // data either side took from the other
};

// Both sides answer each other, starting with `toAdapter`, until neither has anything
// left to say.
inline Exchanged negotiate(vsp::ClientProtocol& client, vsp::AdapterProtocol& adapter, std::vector<std::uint8_t> toAdapter)
{
    Exchanged heard;
    std::vector<std::uint8_t> toClient;
    for (int round = 0; round < 5 && !toAdapter.empty(); ++round) {
        toClient.clear();
        adapter.receive(toAdapter, heard.data, toClient);
        heard.commands.insert(heard.commands.end(), adapter.commands().begin(), adapter.commands().end());
        toAdapter.clear();
        client.receive(toClient, heard.data, toAdapter);
    }
    return heard;
}
