// Decoding the datastreams a conversation carries, as the trace file's data
// dumps show them: the server mapper request and reply, the seed exchange,
// the start-server request and reply.  Pure functions over bytes; what they
// do not recognise they show as hexadecimal.  The password substitute of a
// start-server request is never shown, whatever bytes the dump holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zw::cli {

enum class Direction { sent, received };

// The sign-on step that was running when the bytes passed; inside a step
// the datastream is known even when its header is not what it should be.
enum class SignonStep { none, seedExchange, startServer };

// Lines (without newlines) describing `length` bytes that went in
// `direction`: one block per datastream recognised, field lines indented by
// two blanks, and hexadecimal rows for the rest.
std::vector<std::string> decodeDatastreams(Direction direction, SignonStep step,
                                           const std::uint8_t* data, std::size_t length);

// The length a reply of the sign-on step should have, from its header when
// at least its length field has arrived, else the step's usual length; 0
// outside a step.
std::size_t expectedReplyLength(SignonStep step, const std::uint8_t* data, std::size_t length);

// The local socket address that ipGetLocalName / ipxGetLocalName dumps.
std::vector<std::string> decodeLocalAddress(const std::uint8_t* data, std::size_t length);

// Bytes in the host code page 37 as readable text; bytes without a
// printable ASCII counterpart as \xNN.
std::string fromCodePage37(const std::uint8_t* data, std::size_t length);

}  // namespace zw::cli
