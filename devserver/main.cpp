// qtl-devserver: a TDS server over an embedded SQLite database holding the QTL schema.
#include "engine.h"
#include "qtl/qtl.h"
#include "tds/server.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <sqlite3.h>
#include <string>
#include <thread>

namespace {

constexpr const char* kUsage =
    "usage: qtl-devserver --port N --db FILE [--demo small|large|none] [--log FILE]\n"
    "                     [--fail-on REGEX] [--drop-on REGEX] [--fail-nth N] [--drop-nth N]\n"
    "                     [--fault-mark TEXT] [--stall-on REGEX] [--stall-login]\n"
    "                     [--write-settings PATH] [--listen ADDR]\n"
    "                     [--log-max-bytes N] [--max-connections N] [--login-timeout SEC]\n"
    "                     [--idle-timeout SEC] [--max-request-bytes N] [--max-queued-requests N]\n"
    "                     [--max-result-bytes N] [--max-temp-bytes N] [--encryption login|off]\n"
    "                     [--tls-cert FILE --tls-key FILE] [--lock-timeout MS]\n";

[[noreturn]] void badArguments(const std::string& why) {
    std::cerr << "qtl-devserver: " << why << "\n" << kUsage;
    std::exit(2);
}

devserver::Pattern compileRegex(const std::string& option, const std::string& pattern) {
    try {
        return devserver::Pattern(pattern);
    } catch (const std::exception& e) {
        badArguments("invalid regular expression for " + option + ": " + e.what());
    }
}

// A count or size between lo and hi, else the usage text.
long long boundedNumber(const std::string& option, const std::string& value, long long lo, long long hi) {
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || n < lo || n > hi)
        badArguments(option + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi) + ", not " +
                     value);
    return n;
}

int positiveCount(const std::string& option, const std::string& value) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 1000000000)
        badArguments(option + " needs a positive count, not " + value);
    return static_cast<int>(n);
}

// What the command line asks for.
struct Arguments {
    devserver::EngineOptions engine;
    devserver::tds::ServerOptions server;
    std::string settingsPath;
    bool havePort = false;
    std::string encryption = "login";
    std::string tlsCert, tlsKey;
};

int parsePort(const std::string& value) {
    char* end = nullptr;
    errno = 0;
    long port = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || port < 0 || port > 65535) badArguments("invalid port " + value);
    return static_cast<int>(port);
}

// Options about the database, the statements and fault injection; false for any other option.
bool applyEngineOption(const std::string& arg, const std::string& value, Arguments& a) {
    if (arg == "--db") {
        a.engine.dbPath = value;
    } else if (arg == "--demo") {
        if (value != "small" && value != "large" && value != "none")
            badArguments("--demo must be small, large or none");
        a.engine.demo = value;
    } else if (arg == "--fail-on") {
        a.engine.failOn = compileRegex(arg, value);
    } else if (arg == "--fail-nth") {
        a.engine.failNth = positiveCount(arg, value);
    } else if (arg == "--drop-nth") {
        a.engine.dropNth = positiveCount(arg, value);
    } else if (arg == "--fault-mark") {
        if (value.empty()) badArguments("--fault-mark needs a text");
        a.engine.faultMark = value;
    } else if (arg == "--stall-on") {
        a.engine.stallOn = compileRegex(arg, value);
    } else if (arg == "--max-result-bytes") {
        a.engine.maxResultBytes = static_cast<std::size_t>(boundedNumber(arg, value, 65536, 1ll << 40));
    } else if (arg == "--max-temp-bytes") {
        a.engine.maxTempBytes = boundedNumber(arg, value, 0, 1ll << 50);
    } else if (arg == "--lock-timeout") {
        a.engine.lockTimeoutMs = static_cast<int>(boundedNumber(arg, value, -1, 86400000));
    } else {
        return false;
    }
    return true;
}

// Options about connections and their limits; false for any other option.
bool applyServerLimitOption(const std::string& arg, const std::string& value, Arguments& a) {
    devserver::tds::ServerOptions& s = a.server;
    if (arg == "--max-connections") {
        s.maxConnections = static_cast<int>(boundedNumber(arg, value, 1, 100000));
    } else if (arg == "--login-timeout") {
        s.loginTimeoutSeconds = static_cast<int>(boundedNumber(arg, value, 0, 86400));
    } else if (arg == "--idle-timeout") {
        s.idleTimeoutSeconds = static_cast<int>(boundedNumber(arg, value, 0, 30ll * 86400));
    } else if (arg == "--max-request-bytes") {
        s.maxRequestBytes = static_cast<std::size_t>(boundedNumber(arg, value, 4096, 1ll << 30));
        s.maxQueuedBytes = s.maxRequestBytes;
    } else if (arg == "--max-queued-requests") {
        s.maxQueuedRequests = static_cast<int>(boundedNumber(arg, value, 1, 100000));
    } else if (arg == "--log-max-bytes") {
        s.logMaxBytes = static_cast<std::uint64_t>(boundedNumber(arg, value, 4096, 1ll << 50));
    } else {
        return false;
    }
    return true;
}

// The other options that take a value; false for an unknown one.
bool applyServerOption(const std::string& arg, const std::string& value, Arguments& a) {
    if (arg == "--port") {
        a.server.port = parsePort(value);
        a.havePort = true;
    } else if (arg == "--log") {
        a.server.logPath = value;
    } else if (arg == "--drop-on") {
        a.server.dropOn = compileRegex(arg, value);
    } else if (arg == "--write-settings") {
        a.settingsPath = value;
    } else if (arg == "--listen") {
        a.server.listenAddress = value;
    } else if (arg == "--encryption") {
        a.encryption = value;
    } else if (arg == "--tls-cert") {
        a.tlsCert = value;
    } else if (arg == "--tls-key") {
        a.tlsKey = value;
    } else {
        return applyServerLimitOption(arg, value, a);
    }
    return true;
}

void checkArguments(Arguments& a) {
    if (a.engine.dbPath.empty()) badArguments("--db FILE is required");
    if (!a.havePort) a.server.port = 11433;
    if (a.encryption != "login" && a.encryption != "off") badArguments("--encryption must be login or off");
    if (a.tlsCert.empty() != a.tlsKey.empty()) badArguments("--tls-cert and --tls-key go together");
    if (!a.tlsCert.empty() && a.encryption == "off") badArguments("--tls-cert and --tls-key need --encryption login");
}

// Reads the command line; a bad one ends the program with the usage text. False when only the
// usage was asked for (it has been printed).
bool parseArguments(int argc, char** argv, Arguments& a) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return false;
        }
        if (arg == "--stall-login") {
            a.server.stallLogin = true;
            continue;
        }
        if (arg.rfind("--encryption=", 0) == 0) {
            a.encryption = arg.substr(std::strlen("--encryption="));
            continue;
        }
        if (i + 1 >= argc) badArguments("missing value for " + arg);
        const std::string value = argv[++i];
        if (!applyEngineOption(arg, value, a) && !applyServerOption(arg, value, a))
            badArguments("unknown option " + arg);
    }
    checkArguments(a);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // SQLite's allocation statistics take one process-wide mutex on every allocation, which every
    // session's thread then queues for; nothing here reads those statistics.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    Arguments args;
    if (!parseArguments(argc, argv, args)) return 0;
    devserver::EngineOptions& engineOptions = args.engine;
    devserver::tds::ServerOptions& serverOptions = args.server;
    const std::string& settingsPath = args.settingsPath;
    if (args.encryption == "login") {
        try {
            serverOptions.tls = args.tlsCert.empty() ? devserver::tds::TlsContext::generate()
                                                     : devserver::tds::TlsContext::fromFiles(args.tlsCert, args.tlsKey);
        } catch (const std::exception& e) {
            std::cerr << "qtl-devserver: " << e.what() << "\n";
            return 1;
        }
    }

    // Signals are taken by one thread with sigwait, so every other thread runs with them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<devserver::Engine> engine;
    try {
        engine = devserver::makeEngine(engineOptions);
    } catch (const std::exception& e) {
        std::cerr << "qtl-devserver: cannot open database " << engineOptions.dbPath << ": " << e.what() << "\n";
        return 1;
    }

    devserver::tds::Server server(*engine, serverOptions);
    try {
        server.bind();
    } catch (const std::exception& e) {
        std::cerr << "qtl-devserver: " << e.what() << "\n";
        return 1;
    }

    // The address clients use: loopback when listening on every interface.
    std::string host = serverOptions.listenAddress;
    if (host == "0.0.0.0" || host == "::") host = "127.0.0.1";

    if (!settingsPath.empty()) {
        try {
            const std::filesystem::path parent = std::filesystem::path(settingsPath).parent_path();
            if (!parent.empty()) std::filesystem::create_directories(parent);
            const auto [user, password] = engine->settingsAccount();
            devserver::qtl::writeSettingsFile(settingsPath, user, password, host + "," + std::to_string(server.port()),
                                              "QTL");
        } catch (const std::exception& e) {
            std::cerr << "qtl-devserver: cannot write settings file " << settingsPath << ": " << e.what() << "\n";
            return 1;
        }
    }

    std::thread signalThread([&server, signals] {
        int sig = 0;
        sigwait(&signals, &sig);
        server.stop();
    });

    std::cout << "listening on " << serverOptions.listenAddress << ":" << server.port() << std::endl;

    int rc = 0;
    try {
        server.run();
    } catch (const std::exception& e) {
        std::cerr << "qtl-devserver: " << e.what() << "\n";
        rc = 1;
    }
    // Wakes the signal thread when the server ended on its own.
    // The signal thread sits in sigwait for SIGTERM: sending it that signal is how it is woken.
    pthread_kill(signalThread.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread)
    signalThread.join();
    return rc;
}
