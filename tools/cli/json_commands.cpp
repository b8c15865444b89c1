// qmrt json tokens / qmrt json get: the token table of a JSON text and values by key.
#include <qmrt/qmrt.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "commands.hpp"
#include "input.hpp"

namespace qmrt::cli {
namespace {

struct FreeTokens {
    void operator()(json_token *tokens) const noexcept { std::free(tokens); }
};

// The tokens of a whole text, grown as json_tokenise grows its array, and where the
// parse stopped: json_tokenise does not tell the offset, the tokenizer state does.
struct Parse {
    std::vector<json_token> tokens;
    int32_t status = 0;
    uint32_t stopped_at = 0;
};

Parse parse(const std::string &text) {
    Parse result;
    jsmn_state state;
    jsmn_init(&state);
    result.tokens.resize(64);
    while ((result.status = jsmn_parse(&state, text.c_str(), result.tokens.data(),
                                       static_cast<uint32_t>(result.tokens.size()))) ==
           JSON_ERR_NO_TOKENS)
        result.tokens.resize(2 * result.tokens.size() + 1);
    result.tokens.resize(static_cast<std::size_t>(state.next_free));
    result.stopped_at = state.pos;
    return result;
}

// One line on standard error for a text the tokenizer rejected.
void report_bad_json(std::string_view name, const Parse &parsed) {
    const char *what = parsed.status == JSON_ERR_INCOMPLETE ? "incomplete" : "invalid";
    std::fprintf(stderr, "qmrt: %.*s: %s JSON (status %d): the parse stopped at offset %u\n",
                 static_cast<int>(name.size()), name.data(), what, parsed.status,
                 parsed.stopped_at);
}

// The token's text for the table: control characters escaped so every token keeps to
// one line, cut to `width` bytes without splitting a UTF-8 character.
std::string cell_text(std::string_view text, std::size_t width) {
    std::string shown;
    std::size_t used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (used >= width && (byte & 0xC0) != 0x80) {
            shown += "...";
            break;
        }
        if (byte == '\n') {
            shown += "\\n";
        } else if (byte == '\t') {
            shown += "\\t";
        } else if (byte == '\r') {
            shown += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += static_cast<char>(byte);
        }
        ++used;
    }
    return shown;
}

constexpr const char *kind_names[] = {"primitive", "object", "array", "string"};

int print_tokens(const std::string &path, std::size_t width) {
    const std::string text = read_text(path);
    const Parse parsed = parse(text);
    std::printf("%5s  %-9s %7s %7s %5s  %s\n", "index", "kind", "start", "end", "size", "text");
    for (std::size_t i = 0; i < parsed.tokens.size(); ++i) {
        const json_token &token = parsed.tokens[i];
        const char *kind = token.type >= 0 && token.type <= 3 ? kind_names[token.type] : "?";
        std::string shown;
        if (token.end < 0) {
            shown = "(still open)";
        } else {
            shown = cell_text(
                std::string_view(text).substr(static_cast<std::size_t>(token.start),
                                              static_cast<std::size_t>(token.end - token.start)),
                width);
        }
        std::printf("%5zu  %-9s %7d %7d %5d  %s\n", i, kind, token.start, token.end, token.size,
                    shown.c_str());
    }
    if (parsed.status != 0) {
        report_bad_json(shown_name(path), parsed);
        return refused;
    }
    return ok;
}

int print_values(const std::string &path, const std::vector<std::string> &keys) {
    const std::string text = read_text(path);
    int32_t status = 0;
    std::unique_ptr<json_token, FreeTokens> tokens(json_tokenise(text.c_str(), &status));
    if (status != 0) {
        report_bad_json(shown_name(path), parse(text));
        return refused;
    }
    // The lookup copies a value whole and is not told the buffer's size; no value can be
    // longer than the text it comes from.
    std::string value(text.size() + 1, '\0');
    int result = ok;
    for (const std::string &key : keys) {
        if (QM_getJsonValue(tokens.get(), key.c_str(), value.data(), text.c_str()) != 0) {
            std::fflush(stdout);
            std::fprintf(stderr, "qmrt: key not found: %s\n", key.c_str());
            result = refused;
            continue;
        }
        std::printf("%s\n", value.c_str());
    }
    return result;
}

}  // namespace

void add_json_commands(CLI::App &app, Action &action) {
    CLI::App *json = app.add_subcommand("json", "Tokenize JSON texts and read values by key");
    json->require_subcommand(1);

    struct TokensArgs {
        std::string path = "-";
        int32_t width = 40;
    };
    auto tokens_args = std::make_shared<TokensArgs>();
    CLI::App *tokens = json->add_subcommand(
        "tokens", "Token table of a JSON text: index, kind, start, end, size and text");
    tokens->add_option("FILE", tokens_args->path, "JSON file, or - for standard input (default)");
    // No token text is longer than the 2147483647 bytes the tokenizer reads.
    add_number(tokens, "-w,--width", tokens_args->width, "longest token text shown (default 40)", 1,
               INT32_MAX);
    tokens->footer(
        "Offsets count bytes from the start of the text; end is one past the token and -1\n"
        "while an object or array is still open. Invalid or incomplete JSON: the tokens made\n"
        "so far, then the status and the offset where the parse stopped, and status 1.");
    tokens->callback([tokens_args, &action] {
        action = [tokens_args] {
            return print_tokens(tokens_args->path, static_cast<std::size_t>(tokens_args->width));
        };
    });

    auto get_operands = std::make_shared<std::vector<std::string>>();
    CLI::App *get = json->add_subcommand("get", "Values of keys in a JSON text, one a line");
    get->add_option("KEY", *get_operands,
                    "[FILE|-] KEY...: the JSON file (- or none: standard input), then the keys")
        ->required()
        ->expected(1, -1);
    get->footer(
        "With one operand, it is the key and the text is read from standard input.\n"
        "The value of a key is the token after the first string equal to it, at any depth:\n"
        "strings without quotes and escapes as written, objects and arrays as their text.\n"
        "A missing key is reported on standard error and makes the status 1.\n"
        "The library warns on standard output about values over 500 characters and\n"
        "documents over 40000.");
    get->callback([get_operands, &action] {
        action = [get_operands] {
            std::vector<std::string> keys = *get_operands;
            std::string path = "-";
            if (keys.size() > 1) {
                path = keys.front();
                keys.erase(keys.begin());
            }
            return print_values(path, keys);
        };
        // json_tokenise's running out of memory is the library's fatal report.
        action = guarded("lookup of keys", std::move(action));
    });
}

}  // namespace qmrt::cli
