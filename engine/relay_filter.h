#pragma once

// Sees every chunk travelling from the upstream side towards the browser,
// right before the relay sends it on.
class IRelayFilter {
public:
    virtual ~IRelayFilter() = default;
    // data[length] is a zero byte, so the chunk also reads as text.
    virtual void OnChunk(char* data, int length) = 0;
};
