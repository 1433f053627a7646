// Bytes from a host as the simulated buses receive them: cut into frames
// (secondary-bus addresses included) and served by a board.

#include "sim/SimCrateBoard.h"
#include "sim/SimWire.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CSimBoard board(1, 0x00010019, SimTiming{0, 0});
    for (bool secondary : {false, true}) {
        simwire::CSerialDecoder decoder(secondary);
        decoder.Feed(data, size);
        for (bool idle : {false, true}) {
            while (auto item = decoder.Next(idle)) {
                if (item->kind == simwire::CSerialDecoder::Item::Data)
                    board.Serve(item->payload);
            }
        }
    }
    // The raw bytes as one command too, so every command code sees them.
    board.Execute({data, size});
    return 0;
}
