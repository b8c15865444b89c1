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
    JSON_ERR_NO_TOKENS = -1,  /* the array is full: enlarge it and call again */
    JSON_ERR_INVALID = -2,    /* a character or bracket that is not allowed there */
    JSON_ERR_INCOMPLETE = -3  /* the text ended inside a string or an open container */
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
    uint32_t pos;       /* offset of the next character to examine */
    int32_t next_free;  /* tokens made so far */
    int32_t parent;     /* innermost open object or array, -1 when none */
} jsmn_state;

void jsmn_init(jsmn_state *state);
int32_t jsmn_parse(jsmn_state *state, const char *text, json_token *tokens, uint32_t count);

/* Token array and value lookup. */
json_token *json_tokenise(const char *text, int32_t *status);
int32_t QM_getJsonValue(const json_token *tokens, const char *key, char *value, const char *text);
int32_t json_getreply(const char *text, const json_token *tokens);
int32_t json_token_streq(const char *text, const json_token *token, const char *s);
char *json_token_tostr(char *text, const json_token *token);

#ifdef __cplusplus
}
#endif

#endif
