// The dispatch tables of the Z80 core, generated at compile time: entry n of
// each page is that page's handler template instantiated for opcode n (see
// z80_main_page.h, z80_ed_page.h and z80_index_page.h for what each page does
// and where it departs from the Zilog manual).
//
// Besides the five tables of record (`Tables`, 1280 distinct handlers), the
// step uses three tables of the same instructions that take PC as an argument
// (MainStepTable, EDStepTable, IndexStepTable); each of their entries and the
// corresponding entry of `Tables` are built from one template body.
#include "z80/z80_ed_page.h"
#include "z80/z80_index_page.h"
#include "z80/z80_main_page.h"

#include <array>
#include <cstddef>
#include <utility>

namespace {

using namespace z80core;

template <typename Handler, template <int> class Page, std::size_t... Op>
constexpr std::array<Handler, 256> MakePage(std::index_sequence<Op...>) {
    return {Page<static_cast<int>(Op)>::Function...};
}
template <typename Handler, template <int> class Page>
constexpr std::array<Handler, 256> MakePage() {
    return MakePage<Handler, Page>(std::make_index_sequence<256>{});
}

template <int Op> struct MainEntry { static constexpr MainHandler Function = &MainOp<Op>; };
template <int Op> struct CBEntry { static constexpr MainHandler Function = &CBOp<Op>; };
template <int Op> struct EDEntry { static constexpr MainHandler Function = &EDOp<Op>; };
template <int Op> struct IndexEntry { static constexpr IndexHandler Function = &IndexOp<Op>; };
template <int Op> struct IndexCBEntry {
    static constexpr IndexCBHandler Function = &IndexCBOp<Op>;
};
template <int Op> struct MainStepEntry {
    static constexpr MainStepHandler Function = &MainBody<Op>;
};
template <int Op> struct EDStepEntry { static constexpr EDStepHandler Function = &EDBody<Op>; };
template <int Op> struct IndexStepEntry {
    static constexpr IndexStepHandler Function = &IndexBody<Op>;
};

template <typename Handler, std::size_t N>
constexpr void Copy(Handler (&to)[N], const std::array<Handler, N>& from) {
    for (std::size_t i = 0; i < N; ++i) to[i] = from[i];
}

constexpr DispatchTables MakeTables() {
    DispatchTables t{};
    Copy(t.IndexCBTable, MakePage<IndexCBHandler, IndexCBEntry>());
    Copy(t.IndexTable, MakePage<IndexHandler, IndexEntry>());
    Copy(t.CBTable, MakePage<MainHandler, CBEntry>());
    Copy(t.EDTable, MakePage<MainHandler, EDEntry>());
    Copy(t.MainTable, MakePage<MainHandler, MainEntry>());
    return t;
}

} // namespace

constexpr DispatchTables Tables = MakeTables();

constexpr std::array<MainStepHandler, 256> MainStepTable =
    MakePage<MainStepHandler, MainStepEntry>();

namespace z80core {
constexpr std::array<EDStepHandler, 256> EDStepTable = MakePage<EDStepHandler, EDStepEntry>();
constexpr std::array<IndexStepHandler, 256> IndexStepTable =
    MakePage<IndexStepHandler, IndexStepEntry>();
} // namespace z80core
