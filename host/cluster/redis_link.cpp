// redis_link.cpp - the hiredis connection behind cluster mode.
#include "redis_link.h"

#include "cluster.h"

#include <hiredis/hiredis.h>
extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}
#include <stdint.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace qvpcl {

namespace {
void free_reply(redisReply *r) {
    if (r) freeReplyObject(r);
}

// The credentials links sign in with; set by UseRedisAuth.
std::string g_user, g_password;
bool g_has_password = false;
}  // namespace

namespace {
std::string hex_of(const uint8_t digest[32]) {
    char hex[65];
    for (int i = 0; i < 32; i++) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}
}  // namespace

std::string Sha256Hex(const void *data, size_t n) {
    struct AVSHA *sha = av_sha_alloc();
    uint8_t digest[32];
    av_sha_init(sha, 256);
    av_sha_update(sha, (const uint8_t *)data, n);
    av_sha_final(sha, digest);
    av_free(sha);
    return hex_of(digest);
}

bool Sha256File(const std::string &path, std::string &hex) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    struct AVSHA *sha = av_sha_alloc();
    av_sha_init(sha, 256);
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) av_sha_update(sha, buf, n);
    bool ok = !ferror(f);
    fclose(f);
    uint8_t digest[32];
    av_sha_final(sha, digest);
    av_free(sha);
    hex = hex_of(digest);
    return ok;
}

bool UseRedisAuth(const std::string &file, std::string &err) {
    g_user.clear();
    g_password.clear();
    g_has_password = false;
    std::string line;
    if (!file.empty()) {
        FILE *f = fopen(file.c_str(), "r");
        if (!f) {
            err = "cannot read the Redis credentials in \"" + file + "\": " + strerror(errno);
            return false;
        }
        char buf[1024];
        if (fgets(buf, sizeof buf, f)) line = buf;
        fclose(f);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
        size_t sp = line.find(' ');
        if (sp != std::string::npos) {
            g_user = line.substr(0, sp);
            g_password = line.substr(sp + 1);
        } else {
            g_password = line;
        }
        if (g_password.empty()) {
            err = "the Redis credentials file \"" + file + "\" holds no password";
            return false;
        }
        g_has_password = true;
        return true;
    }
    const char *pw = getenv("QVP_REDIS_PASSWORD"), *user = getenv("QVP_REDIS_USER");
    if (pw && *pw) {
        g_password = pw;
        g_user = user ? user : "";
        g_has_password = true;
    }
    return true;
}

RedisLink::~RedisLink() { Drop(); }

void RedisLink::Drop() {
    if (ctx_) redisFree(ctx_);
    ctx_ = nullptr;
}

bool RedisLink::Connect(const std::string &host, int port, int timeout_ms, std::string &err) {
    Drop();
    struct timeval tv = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    redisContext *c = redisConnectWithTimeout(host.c_str(), port, tv);
    if (!c || c->err) {
        err = "cannot reach Redis at " + host + ":" + std::to_string(port) + ": " + (c ? c->errstr : "out of memory");
        if (c) redisFree(c);
        return false;
    }
    // Replies wait at most 10 s (a blocking read asks for less).
    struct timeval rt = {10, 0};
    redisSetTimeout(c, rt);
    ctx_ = c;
    auth_refused_ = false;
    // Signed in, or asked once whether Redis wants it.
    std::vector<std::string> hello = {"PING"};
    if (g_has_password) {
        hello = {"AUTH"};
        if (!g_user.empty()) hello.push_back(g_user);
        hello.push_back(g_password);
    }
    Reply r = Command(hello, err);
    if (!r) return false;
    if (r->type == REDIS_REPLY_ERROR) {
        std::string why = r->str ? r->str : "";
        Drop();
        auth_refused_ = true;
        if (!g_has_password && why.find("NOAUTH") != std::string::npos)
            err = "Redis at " + host + ":" + std::to_string(port) +
                  " wants a password: set QVP_REDIS_PASSWORD (and QVP_REDIS_USER) or give -redis-auth FILE";
        else if (g_has_password)
            err = "Redis refused the password for user " + (g_user.empty() ? std::string("default") : g_user);
        else
            err = "Redis at " + host + ":" + std::to_string(port) + " refused the link: " + why;
        return false;
    }
    return true;
}

Reply RedisLink::Command(const std::vector<std::string> &words, std::string &err) {
    Reply none(nullptr, free_reply);
    if (!ctx_) {
        err = "not connected";
        return none;
    }
    std::vector<const char *> argv;
    std::vector<size_t> lens;
    for (const std::string &w : words) {
        argv.push_back(w.data());
        lens.push_back(w.size());
    }
    redisReply *r = (redisReply *)redisCommandArgv(ctx_, (int)argv.size(), argv.data(), lens.data());
    if (!r) {
        err = ctx_->errstr[0] ? ctx_->errstr : "connection lost";
        Drop();
        return none;
    }
    return Reply(r, free_reply);
}

bool RedisLink::Pipeline(const std::vector<std::vector<std::string>> &commands, std::vector<Reply> &replies,
                         std::string &err) {
    replies.clear();
    if (!ctx_) {
        err = "not connected";
        return false;
    }
    for (const auto &words : commands) {
        std::vector<const char *> argv;
        std::vector<size_t> lens;
        for (const std::string &w : words) {
            argv.push_back(w.data());
            lens.push_back(w.size());
        }
        if (redisAppendCommandArgv(ctx_, (int)argv.size(), argv.data(), lens.data()) != REDIS_OK) {
            err = "out of memory";
            return false;
        }
    }
    for (size_t i = 0; i < commands.size(); i++) {
        void *r = nullptr;
        if (redisGetReply(ctx_, &r) != REDIS_OK || !r) {
            err = ctx_->errstr[0] ? ctx_->errstr : "connection lost";
            Drop();
            return false;
        }
        replies.emplace_back((redisReply *)r, free_reply);
    }
    return true;
}

bool ParseEndpoint(const std::string &text, std::string &host, int &port, std::string &err) {
    size_t colon = text.rfind(':');
    char *end = nullptr;
    long p = colon == std::string::npos ? 0 : strtol(text.c_str() + colon + 1, &end, 10);
    if (colon == std::string::npos || colon == 0 || !end || *end || p < 1 || p > 65535) {
        err = "bad Redis address \"" + text + "\": want HOST:PORT";
        return false;
    }
    host = text.substr(0, colon);
    port = (int)p;
    return true;
}

namespace {

// A sentinel endpoint's sentinels and master name; false when TEXT is
// not one.
bool split_sentinel(const std::string &text, std::vector<std::string> &sentinels, std::string &master) {
    if (text.compare(0, 9, "sentinel:") != 0) return false;
    std::string rest = text.substr(9);
    size_t slash = rest.rfind('/');
    master = slash == std::string::npos ? "" : rest.substr(slash + 1);
    std::string list = rest.substr(0, slash);
    sentinels.clear();
    for (size_t at = 0; at <= list.size();) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        sentinels.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    return true;
}

}  // namespace

bool CheckEndpoint(const std::string &text, std::string &err) {
    std::vector<std::string> sentinels;
    std::string master, host;
    int port;
    if (!split_sentinel(text, sentinels, master)) return ParseEndpoint(text, host, port, err);
    if (master.empty()) {
        err = "bad Redis address \"" + text + "\": want sentinel:HOST:PORT[,HOST:PORT...]/MASTER";
        return false;
    }
    for (const std::string &s : sentinels)
        if (!ParseEndpoint(s, host, port, err)) return false;
    return true;
}

bool ResolveEndpoint(const std::string &text, int timeout_ms, std::string &host, int &port, std::string &err) {
    std::vector<std::string> sentinels;
    std::string master;
    if (!split_sentinel(text, sentinels, master)) return ParseEndpoint(text, host, port, err);
    if (!CheckEndpoint(text, err)) return false;
    std::string why;
    for (const std::string &s : sentinels) {
        std::string sh;
        int sp = 0;
        ParseEndpoint(s, sh, sp, err);
        struct timeval tv = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
        redisContext *c = redisConnectWithTimeout(sh.c_str(), sp, tv);
        if (!c || c->err) {
            why = std::string("sentinel ") + s + ": " + (c ? c->errstr : "out of memory");
            if (c) redisFree(c);
            continue;
        }
        redisSetTimeout(c, tv);
        redisReply *r = (redisReply *)redisCommand(c, "SENTINEL get-master-addr-by-name %s", master.c_str());
        bool ok = r && r->type == REDIS_REPLY_ARRAY && r->elements == 2 && r->element[0]->type == REDIS_REPLY_STRING &&
                  r->element[1]->type == REDIS_REPLY_STRING;
        if (ok) {
            host = r->element[0]->str;
            port = atoi(r->element[1]->str);
        } else {
            why = "sentinel " + s + " does not know master \"" + master + "\"";
        }
        if (r) freeReplyObject(r);
        redisFree(c);
        if (ok) return true;
    }
    err = "no sentinel of \"" + text + "\" answered where the master is (" + why + ")";
    return false;
}

bool RedisLink::ConnectTo(const std::string &endpoint, int timeout_ms, std::string &err) {
    std::string host;
    int port = 0;
    if (!ResolveEndpoint(endpoint, timeout_ms, host, port, err)) return false;
    return Connect(host, port, timeout_ms, err);
}

std::string ReplyString(const redisReply *r) {
    if (!r) return "";
    if (r->type == REDIS_REPLY_STRING || r->type == REDIS_REPLY_STATUS || r->type == REDIS_REPLY_ERROR)
        return std::string(r->str, r->len);
    if (r->type == REDIS_REPLY_INTEGER) return std::to_string(r->integer);
    return "";
}

std::string ReplyField(const redisReply *r, const std::string &field) {
    if (!r || r->type != REDIS_REPLY_ARRAY) return "";
    for (size_t i = 0; i + 1 < r->elements; i += 2)
        if (ReplyString(r->element[i]) == field) return ReplyString(r->element[i + 1]);
    return "";
}

}  // namespace qvpcl
