/* JSON: a lenient tokenizer that turns a text into a flat token array without copying,
 * a growing token array, reply validation and value lookup by key. */
#ifndef QMRT_JSON_H
#define QMRT_JSON_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Token kinds. */
enum { JSON_PRIMITIVE = 0, JSON_OBJECT = 1, JSON_ARRAY = 2, JSON_STRING = 3 };

/* jsmn_parse statuses (0 is success). */
enum {
    JSON_ERR_NO_TOKENS = -1, /* the array is full: enlarge it and call again */
    JSON_ERR_INVALID = -2,   /* a character or bracket that is not allowed there */
    JSON_ERR_INCOMPLETE = -3 /* the text ended inside a string or an open container */
};

/* One token. start/end are byte offsets of the token's text (end one past the last
 * character); both are -1 while the token is free, and end stays -1 while an object
 * or array is open. size counts direct children, keys and values alike. */
typedef struct json_token {
    int32_t type;
    int32_t start;
    int32_t end;
    int32_t size;
} json_token;

/* Tokenizer state: lets a parse stop when the array is full and resume after the
 * caller enlarged it. */
typedef struct jsmn_state {
    uint32_t pos;      /* offset of the next character to examine */
    int32_t next_free; /* tokens made so far */
    int32_t parent;    /* innermost open object or array, -1 when none */
} jsmn_state;

/* Prepares a state for a new parse: pos 0, next_free 0, parent -1. */
void jsmn_init(jsmn_state *state);

/* Tokenizes the zero-terminated text from state->pos on into tokens[0..count-1] and
 * returns 0 or a JSON_ERR_* status. Lenient: brackets are matched and strings and
 * unquoted values validated, but colons and commas are skipped wherever they stand,
 * unquoted keys pass, and several values may follow one another at the top level.
 * Nothing is allocated or copied; tokens at and beyond count are never written.
 * - 0: the whole text was read; pos is the text's length.
 * - JSON_ERR_NO_TOKENS: pos is at the token that did not fit and nothing else changed.
 *   Enlarge the array keeping its contents and call again with the same state: the
 *   result equals that of one call with the larger count.
 * - JSON_ERR_INVALID: pos is at the offending bracket, or at the first character of the
 *   offending string or unquoted value. Also returned, touching nothing, for a state
 *   that claims more tokens than count or names a parent it never made.
 * - JSON_ERR_INCOMPLETE: pos is at the unterminated string's quotation mark, or at the
 *   text's end when an object or array is still open.
 * Tokens made before a failure stay in the array. Offsets are 32-bit, so texts are
 * bounded to 2147483647 bytes: a longer text is refused with JSON_ERR_INVALID when the
 * parse reaches that offset (pos at the byte there, or at the start of the string or
 * unquoted value that runs into it) instead of wrapping its offsets. */
int32_t jsmn_parse(jsmn_state *state, const char *text, json_token *tokens, uint32_t count);

/* Tokenizes the whole text into a new malloc'ed array the caller releases with free.
 * The array starts at 256 tokens and grows to 2n+1 (513, 1027, ...) whenever it is
 * full, resuming the parse where it stopped. *status becomes 0 when the whole text was
 * tokenized and -1 when it is invalid or incomplete; the array is returned either way,
 * holding the tokens made (a container left open keeps end -1). The made tokens are
 * always followed by at least one free token, even when they fill 256, 513, ...
 * places exactly, so a lookup always stops inside the array. No memory is fatal:
 * "json_tokenise: assertion failed: tokens != NULL (...)". */
json_token *json_tokenise(const char *text, int32_t *status);

/* Finds the first string token, at any depth, whose text equals key byte for byte
 * (escapes as written), and copies the text of the token right after it into value:
 * a string without its quotation marks, a primitive, or a container's whole text.
 * Returns 0, or -1 when the key is missing, is the last token, or is followed by an
 * object or array that was left open (nothing is written then). The scan ends at the
 * first free token. A token longer than 40000 characters on the way prints
 * "QM_getJsonValue panjang string = N > 40000"; a value longer than 500 characters
 * prints "QM_getJsonValue len string = N > 500" and is still copied whole. Warnings
 * are formatted into qm_errstr and printed on standard output without a newline.
 * value must hold the longest possible value and its terminator. */
int32_t QM_getJsonValue(const json_token *tokens, const char *key, char *value, const char *text);

/* Checks the first token of a reply and returns 0 when it is a complete object with an
 * even number of children (keys and values are counted alike). Otherwise fatal: the
 * assertion report "t->start != -1 && t->end != -1" for a missing or open root,
 * "Invalid response: root element must be an object." or "Invalid response: object
 * must have even number of children.". The text is not read. */
int32_t json_getreply(const char *text, const json_token *tokens);

/* 1 when the token's text equals s, else 0. An unset or open token (start or end -1)
 * compares unequal. */
int32_t json_token_streq(const char *text, const json_token *token, const char *s);

/* Cuts the token's text out in place: writes a zero byte at offset end (losing the
 * closing quotation mark or the character after the token) and returns text + start.
 * An unset or open token gives a null pointer and the text stays unchanged. */
char *json_token_tostr(char *text, const json_token *token);

#ifdef __cplusplus
}
#endif

#endif
