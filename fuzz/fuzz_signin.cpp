// Feeds any text to the sign-in session as the terminal would deliver it, cut into pieces whose length the
// first byte chooses and each decoded alone. Nothing may throw, and after the final event (success or
// failure) no other may come: the owner has moved on by then.
#include "AuthenticationSession.h"
#include "FuzzInput.h"
#include "MirvoError.h"
#include "SystemError.h"

#include <algorithm>
#include <cstdlib>

using namespace mirvo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = std::size_t(data[0]) + 1;
    bool ended = false;
    AuthenticationSession session([&](const AuthenticationEvent& event) {
        if (ended)
            std::abort();
        if (event.kind == AuthenticationEvent::Kind::Success ||
            event.kind == AuthenticationEvent::Kind::Failure)
            ended = true;
    });
    try {
        for (std::size_t from = 1; from < size; from += piece)
            session.consume(fuzz::text(data + from, std::min(piece, size - from)));
    } catch (const MirvoError&) {
    } catch (const SystemError&) {
    }
    return 0;
}
