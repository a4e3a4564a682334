/* redis_link.h - one connection to a Redis server through hiredis: the
 * commands cluster mode sends, and their replies, with the connection
 * dropped (and known to be down) after any transport error. */
#ifndef QVP_REDIS_LINK_H
#define QVP_REDIS_LINK_H

#include <memory>
#include <string>
#include <vector>

struct redisContext;
struct redisReply;

namespace qvpcl {

/* A reply, freed with the object; null after a transport error. */
using Reply = std::unique_ptr<redisReply, void (*)(redisReply *)>;

class RedisLink {
public:
    RedisLink() = default;
    ~RedisLink();
    RedisLink(const RedisLink &) = delete;
    RedisLink &operator=(const RedisLink &) = delete;

    /* Connects to HOST:PORT within TIMEOUT_MS and signs in with the
     * process's credentials (UseRedisAuth); false with ERR set, and
     * AuthRefused() true when Redis refused or wants the credentials. */
    bool Connect(const std::string &host, int port, int timeout_ms, std::string &err);
    /* The same for ENDPOINT: "HOST:PORT", or
     * "sentinel:HOST:PORT[,HOST:PORT...]/MASTER", for which the sentinels
     * are asked, in turn, where the master is now. */
    bool ConnectTo(const std::string &endpoint, int timeout_ms, std::string &err);
    bool AuthRefused() const { return auth_refused_; }
    bool Connected() const { return ctx_ != nullptr; }
    void Drop();

    /* Sends one command of binary-safe words. A null reply means the
     * link failed (ERR says why) and is now dropped; a Redis error comes
     * back as a reply of type REDIS_REPLY_ERROR. */
    Reply Command(const std::vector<std::string> &words, std::string &err);

    /* Sends the commands at once and reads every reply (a pipeline);
     * false when the link failed. */
    bool Pipeline(const std::vector<std::vector<std::string>> &commands, std::vector<Reply> &replies, std::string &err);

private:
    redisContext *ctx_ = nullptr;
    bool auth_refused_ = false;
};

/* UseRedisAuth (cluster.h) sets the credentials Connect signs in with. */

/* The SHA-256 of N bytes at DATA, and of the file at PATH (false when it
 * cannot be read), in lower-case hex: the names files travel under. */
std::string Sha256Hex(const void *data, size_t n);
bool Sha256File(const std::string &path, std::string &hex);

/* HOST:PORT read into its parts; false with ERR set. */
bool ParseEndpoint(const std::string &text, std::string &host, int &port, std::string &err);
/* Checks the form of an endpoint ConnectTo takes; false with ERR set. */
bool CheckEndpoint(const std::string &text, std::string &err);
/* Where ENDPOINT's master is now (a sentinel endpoint asks its
 * sentinels); false with ERR set. */
bool ResolveEndpoint(const std::string &text, int timeout_ms, std::string &host, int &port, std::string &err);

/* Reply helpers: the string of R (empty when none), the field FIELD of a
 * flat name-value array. */
std::string ReplyString(const redisReply *r);
std::string ReplyField(const redisReply *r, const std::string &field);

}  // namespace qvpcl

#endif
