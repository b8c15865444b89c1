// The vector pass and the token walk of one kernel, compiled once per kernel (see
// vector_scan.hpp). Included inside the kernel's namespace after it defined
//   BlockClasses classify(const unsigned char *block)  the classes of an aligned block
//   std::uint64_t prefix_xor(std::uint64_t bits)       bit i: the xor of bits 0 to i
//   PositionBase position_base(std::uint32_t offset), next_block(PositionBase)
//       the offset of a block's first byte, kept as the kernel adds it best, and that
//       of the block after it
//   std::uint32_t write_positions(std::uint32_t *out, PositionBase base,
//                                 std::uint64_t bits)
//       stores the block's offset plus i for each set bit i in order and returns their
//       number; it may store up to position_slack more past them.
//   void write_event_bytes(unsigned char *out, const unsigned char *block,
//                          std::uint64_t bits)
//       when collects_event_bytes, stores the block's bytes at the set bits in order,
//       with up to 64 stores past them; else nothing.
//   dense_block_events
//       the events a block holds on average, up to 64, above which a chunk is handed
//       over to the scalar loop: it acts on each byte in turn, which beats the walk's
//       cost per event once most bytes are events, as in a run of brackets.
//
// The pass reads the text 64 bytes at a time and marks the bytes where the walk has
// something to do, its events: each quotation mark that opens or closes a string, each
// bracket outside strings, the first byte of each run of printable bytes outside strings
// (an unquoted value) and the byte just after the run, each refused byte outside
// strings, each escape letter that is not accepted, and the terminating zero. Their
// offsets are collected a chunk at a time, and the walk makes the tokens from them: a
// string runs from its opening mark to the next event, which must be its closing mark;
// an unquoted value from its first byte to the next event, which must end it.
//
// Strings are found as in JSON: a quotation mark that no odd run of backslashes escapes
// opens or closes one. That reading is exact unless a quotation mark or an opening
// bracket runs on inside an unquoted value (tru"e, a{b) or a byte is refused. The walk
// meets such a text at the first token where the readings differ, before it made
// anything of the differing one, and hands the text over to the scalar loop there.
namespace {

// A chunk of text is up to 4 KiB, long enough that the pass runs at full pace between
// two walks; it ends early once its offsets fill most of the buffer, which stays in the
// first-level cache and small on the caller's stack.
constexpr unsigned chunk_blocks = 64;
constexpr unsigned chunk_events = 1024;
// One chunk's offsets, one kept from the chunk before, the most one more block can
// add, and the slack write_positions may store past the last offset.
constexpr unsigned event_room = 1 + chunk_events + 64 + position_slack;
constexpr unsigned prefetch_distance = 1024;
constexpr std::uint64_t all_bytes = ~std::uint64_t{0};
constexpr std::uint64_t even_bits = 0x5555555555555555;

struct Pass {
    const unsigned char *text;
    std::uintptr_t block;       // address of the next block to read
    std::uintptr_t stop;        // no block reaching past this address is read
    std::uint64_t first_bytes;  // of the first block, the bytes from the parse's start on
    std::uint64_t in_string;    // all ones while a string runs on into the next block
    std::uint64_t escaped;      // 1 when the next block's first byte is escaped
    std::uint64_t primitive;    // 1 when an unquoted value runs on into the next block
    bool done;                  // the zero byte or the offset bound was reached
};

Pass start_pass(const unsigned char *text, std::uint32_t pos, std::uint32_t limit) {
    const auto origin = reinterpret_cast<std::uintptr_t>(text);
    const std::uintptr_t start = origin + pos;
    return {text, start & ~std::uintptr_t{63}, origin + limit, all_bytes << (start & 63), 0, 0, 0,
            false};
}

// The letters that backslashes escape, backslashes themselves left out: a run of
// backslashes escapes the byte after it when the run is odd.
inline std::uint64_t escaped_letters(std::uint64_t backslash, Pass &pass) {
    // A backslash escaped from the block before escapes nothing itself.
    const std::uint64_t escaping = backslash & ~pass.escaped;
    const std::uint64_t starts = escaping & ~(escaping << 1);
    // Adding a run's first bit to the run carries to the byte after it; the run is odd
    // when that byte's parity differs from the start's.
    const std::uint64_t after_even = (escaping + (starts & even_bits)) & ~escaping;
    std::uint64_t odd_sum;
    const bool carried = __builtin_add_overflow(escaping, starts & ~even_bits, &odd_sum);
    const std::uint64_t after_odd = odd_sum & ~escaping;
    const std::uint64_t letters =
        (after_even & ~even_bits) | (after_odd & even_bits) | (pass.escaped & ~backslash);
    // An odd-started run reaching the block's end is odd: it escapes the next first byte.
    pass.escaped = carried ? 1 : 0;
    return letters;
}

QMRT_BLOCK_READS inline std::uint64_t block_events(const BlockClasses &c, Pass &pass,
                                                   const unsigned char *bytes) {
    std::uint64_t letters = 0;
    if ((c.backslash | pass.escaped) != 0) [[unlikely]]
        letters = escaped_letters(c.backslash, pass);
    const std::uint64_t quotes = c.quote & ~letters;
    // Set from an opening mark up to, not including, its closing mark.
    const std::uint64_t in_string = prefix_xor(quotes) ^ pass.in_string;
    pass.in_string = static_cast<std::uint64_t>(static_cast<std::int64_t>(in_string) >> 63);
    const std::uint64_t outside = ~in_string;
    const std::uint64_t primitive = c.value & outside;
    const std::uint64_t before = primitive << 1 | pass.primitive;
    pass.primitive = primitive >> 63;
    std::uint64_t events = quotes | (c.other & outside) | (primitive ^ before) | c.zero;
    for (std::uint64_t check = letters & in_string; check != 0; check &= check - 1)
        if (!escape_letter(bytes[__builtin_ctzll(check)])) events |= check & (~check + 1);
    return events;
}

// Reads up to one chunk of blocks and stores the offsets of their events, and their
// bytes where the kernel collects them. The pass is worked on in a local copy, so that
// what it carries stays in registers.
QMRT_BLOCK_READS std::uint32_t read_chunk(Pass &shared, std::uint32_t *out,
                                          unsigned char *out_bytes) {
    Pass pass = shared;
    std::uint32_t n = 0;
    // No block reaching past the stop is read: the pass is done when it gets there.
    const std::uintptr_t readable =
        pass.stop > pass.block ? (pass.stop - pass.block) / 64 : std::uintptr_t{0};
    const bool stops = readable <= chunk_blocks;
    const std::uintptr_t end = pass.block + 64 * (stops ? readable : chunk_blocks);
    PositionBase base = position_base(
        static_cast<std::uint32_t>(pass.block - reinterpret_cast<std::uintptr_t>(pass.text)));
    for (; pass.block != end; pass.block += 64, base = next_block(base)) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(pass.block);
        BlockClasses c = classify(bytes);
        // Ask for the text well ahead: a document larger than the second-level cache is
        // otherwise read at the pace of its misses. A prefetch past the text's end or
        // into no mapped page is dropped; it never faults and reads nothing.
        __builtin_prefetch(bytes + prefetch_distance);
        if (pass.first_bytes != all_bytes) [[unlikely]] {
            // Bytes before the start read as white space, which makes nothing.
            c.quote &= pass.first_bytes;
            c.backslash &= pass.first_bytes;
            c.zero &= pass.first_bytes;
            c.value &= pass.first_bytes;
            c.other &= pass.first_bytes;
            pass.first_bytes = all_bytes;
        }
        const bool last = c.zero != 0;
        if (last) [[unlikely]] {
            // Nothing past the first zero counts. The mask is made from the zero's place,
            // not from arithmetic on the bytes after it, which belong to no object of the
            // caller's: memory checkers then see every later test depend on its bytes only.
            const auto at = static_cast<unsigned>(__builtin_ctzll(c.zero));
            const std::uint64_t through = at == 63 ? all_bytes : (std::uint64_t{2} << at) - 1;
            c.quote &= through;
            c.backslash &= through;
            c.zero &= through;
            c.value &= through;
            c.other &= through;
        }
        // A block inside a string that neither ends it nor escapes anything makes no
        // event and leaves the pass as it was: long strings cost only their reading.
        if ((pass.in_string & ~(c.quote | c.backslash | c.zero)) == all_bytes && pass.escaped == 0)
            [[unlikely]]
            continue;
        const std::uint64_t events = block_events(c, pass, bytes);
        write_event_bytes(out_bytes + n, bytes, events);
        n += write_positions(out + n, base, events);
        // The chunk ends at the zero, or early once its offsets fill most of the buffer.
        if (last || n >= chunk_events) [[unlikely]] {
            pass.block += 64;
            pass.done = last;
            break;
        }
    }
    if (stops && pass.block == end) pass.done = true;
    shared = pass;
    return n;
}

// The offsets of the events a chunk of text holds, and their bytes where the kernel
// collects them. Which of them have been acted on is kept by the walk in locals: the
// buffer's address goes to the pass, so the compiler keeps nothing of it in registers.
struct EventBuffer {
    std::uint32_t at[event_room];
    unsigned char bytes[collects_event_bytes ? event_room + 64 : 1];

    // The byte at event k, from the text or from the bytes the pass collected.
    unsigned char byte(const unsigned char *text, std::uint32_t k) const {
        if constexpr (collects_event_bytes) return bytes[k];
        return text[at[k]];
    }
};

// What the walk does with one event, which starts a token or ends a container.
enum class Step { made, hand_over, no_tokens, invalid };

// Acts on event i, whose token the event after it ends, and moves i past what it used.
inline Step walk_event(const EventBuffer &events, std::uint32_t &i, const unsigned char *text,
                       TokenBuilder &out) {
    const std::uint32_t at = events.at[i];
    const unsigned char c = events.byte(text, i);
    // Strings come first: most tokens are strings, and the byte alone names them.
    if (c == quote_mark) {
        if (events.byte(text, i + 1) != quote_mark) return Step::hand_over;
        if (out.full()) return Step::no_tokens;
        out.add_leaf(JSON_STRING, at + 1, events.at[i + 1]);
        i += 2;
        return Step::made;
    }
    const ByteKind kind = byte_kinds[c];
    if (kind == ByteKind::primitive) {
        const ByteKind end = byte_kinds[events.byte(text, i + 1)];
        if (!ends_primitive(end)) return Step::hand_over;
        if (out.full()) return Step::no_tokens;
        out.add_leaf(JSON_PRIMITIVE, at, events.at[i + 1]);
        // A separator that ends it is passed over with it; a bracket or the zero is
        // acted on next in its own right.
        i += end == ByteKind::skip ? 2 : 1;
        return Step::made;
    }
    if (kind == ByteKind::open) {
        if (out.full()) return Step::no_tokens;
        out.open(container_type(c), at);
        ++i;
        return Step::made;
    }
    if (kind == ByteKind::close) {
        if (!out.close(container_type(c), at)) return Step::invalid;
        ++i;
        return Step::made;
    }
    return Step::hand_over;
}

// Acts on the buffer's events from i on while the one after each is in, and stops at
// the first that makes nothing. The builder is worked on in a local copy in a function of
// its own: across the chunk reading of the caller its state would be kept in memory, and
// every token would wait on it.
[[gnu::noinline]] Step walk_events(const EventBuffer &events, std::uint32_t &i, std::uint32_t n,
                                   const unsigned char *text, TokenBuilder &shared) {
    TokenBuilder out = shared;
    std::uint32_t k = i;
    Step step = Step::made;
    while (k + 1 < n) {
        step = walk_event(events, k, text, out);
        if (step != Step::made) break;
    }
    shared = out;
    i = k;
    return step;
}

constexpr std::int32_t status_of(Step step) {
    switch (step) {
        case Step::no_tokens:
            return JSON_ERR_NO_TOKENS;
        case Step::invalid:
            return JSON_ERR_INVALID;
        default:
            return hand_over;
    }
}

}  // namespace

// Each event that starts a token stands at a dispatch point, so a text is handed over
// at the event where the reading fails.
std::int32_t scan(Cursor &cursor, const unsigned char *text, json_token *tokens, std::size_t count,
                  std::uint32_t limit) {
    Pass pass = start_pass(text, cursor.pos, limit);
    EventBuffer events;
    // Events i to n - 1 of the buffer are still to be acted on.
    std::uint32_t i = 0;
    std::uintptr_t chunk_start = pass.block;
    std::uint32_t n = read_chunk(pass, events.at, events.bytes);
    std::uint32_t kept = 0;
    // Tokens outside every container are counted here.
    json_token outside{};
    TokenBuilder out(cursor, tokens, count, outside);
    // The dispatch point after the last token, where the scalar loop can take over; it
    // is only needed when no event is left to name one.
    std::uint32_t after_last = cursor.pos;
    for (;;) {
        // A chunk dense with events goes to the scalar loop, which hands the text back
        // after a stretch.
        if ((n - kept) * 64 > dense_block_events * (pass.block - chunk_start)) [[unlikely]] {
            cursor = out.stop_at(events.at[0]);
            return hand_over;
        }
        // An event is acted on once the one after it, which may end its token, is in.
        if (const Step step = walk_events(events, i, n, text, out); step != Step::made) {
            cursor = out.stop_at(events.at[i]);
            return status_of(step);
        }
        if (i == n && i != 0) after_last = events.at[i - 1] + 1;
        if (pass.done) break;
        // The next chunk goes behind the one event left, if any, whose token an event
        // of the chunk may end.
        kept = 0;
        if (i < n) {
            events.bytes[0] = events.byte(text, i);
            events.at[0] = events.at[i];
            kept = 1;
        }
        i = 0;
        chunk_start = pass.block;
        n = kept + read_chunk(pass, events.at + kept, events.bytes + kept);
    }
    // The zero byte is the last event, unless the offset bound stopped the pass first;
    // the kept event's own position is where the scalar loop would go on.
    if (i < n) {
        const std::uint32_t at = events.at[i];
        cursor = out.stop_at(at);
        if (text[at] == '\0') return out.top() == -1 ? 0 : JSON_ERR_INCOMPLETE;
        return hand_over;
    }
    cursor = out.stop_at(after_last);
    return hand_over;
}
