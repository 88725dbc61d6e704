// The stand-in's answers to the processor, device, logger, value and server requests.
#include "server/request_handlers.h"

#include <charconv>
#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/time_zone.h"

namespace sim_server {
namespace {

std::string text_of(std::string_view request) {
    return std::string(request.substr(0, request.find('\0')));
}

std::string with_nul(std::string text) {
    text.push_back('\0');
    return text;
}

std::string failure(int code) {
    return with_nul("-1," + std::to_string(code));
}

// The fields after the code ("CP,a,b" -> {"a", "b"}), at most `max` (the last keeps the rest).
std::vector<std::string> fields_of(const std::string& text, std::size_t max = SIZE_MAX) {
    std::vector<std::string> out;
    if (text.size() < 3) return out;
    std::string_view rest = std::string_view(text).substr(3);
    while (out.size() + 1 < max) {
        const std::size_t comma = rest.find(',');
        if (comma == std::string_view::npos) break;
        out.emplace_back(rest.substr(0, comma));
        rest.remove_prefix(comma + 1);
    }
    out.emplace_back(rest);
    return out;
}

bool number(std::string_view text, long& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// The positions (0-based) a selector picks out of `names`.
std::vector<std::size_t> select(const std::string& selector, const std::vector<std::string>& names) {
    std::vector<std::size_t> picked;
    long n = 0;
    if (selector.starts_with("*,") && number(std::string_view(selector).substr(2), n)) {
        for (std::size_t i = 0; i < names.size() && static_cast<long>(i) < n; ++i) picked.push_back(i);
    } else if (number(selector, n)) {
        if (n >= 1 && static_cast<std::size_t>(n) <= names.size())
            picked.push_back(static_cast<std::size_t>(n - 1));
    } else {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (platform::equal_ignoring_case(names[i], selector) ||
                platform::prefix_equal_ignoring_case(names[i], selector, 5)) {
                picked.push_back(i);
                break;
            }
    }
    return picked;
}

// "<count>," and one entry per pick.
template <typename Entry, typename Format>
std::string list_reply(const std::string& selector, const std::vector<Entry>& entries,
                       std::vector<std::string> names, Format format) {
    const auto picked = select(selector, names);
    std::string reply = std::to_string(picked.size()) + ",";
    for (std::size_t i : picked) reply += format(entries[i]) + ";";
    return with_nul(reply);
}

std::string selector_of(const std::string& text) {
    return text.size() > 3 ? text.substr(3) : std::string();
}

template <typename Entry, typename Name>
std::vector<std::string> names_of(const std::vector<Entry>& entries, Name name) {
    std::vector<std::string> names;
    for (const Entry& e : entries) names.push_back(name(e));
    return names;
}

std::string device_key(const DeviceEntry& d) {
    return platform::ascii_upper_copy(d.name) + "_" + std::to_string(d.number);
}

void add_processor_handlers(Dispatcher& dispatcher, RequestTables& tables) {
    dispatcher.set_handler("QP", [&tables](std::string_view, uint32_t) {
        return with_nul(std::to_string(tables.lock()->processors.size()));
    });
    dispatcher.set_handler("IP", [&tables](std::string_view request, uint32_t) {
        auto t = tables.lock();
        return list_reply(selector_of(text_of(request)), t->processors,
                          names_of(t->processors, [](const ProcessorEntry& p) { return p.name; }),
                          [](const ProcessorEntry& p) {
                              return p.name + "," + p.print_name + "," + p.channels + "," +
                                     std::to_string(p.run) + "," + std::string(1, p.type_letter);
                          });
    });
    dispatcher.set_handler("TP", [&tables](std::string_view request, uint32_t) {
        auto t = tables.lock();
        return list_reply(selector_of(text_of(request)), t->processors,
                          names_of(t->processors, [](const ProcessorEntry& p) { return p.name; }),
                          [](const ProcessorEntry& p) {
                              return std::to_string(p.state[0]) + "," + std::to_string(p.state[1]) + "," +
                                     p.state_text;
                          });
    });
    auto by_name = [&tables](const std::string& name, auto action) {
        auto t = tables.lock();
        for (std::size_t i = 0; i < t->processors.size(); ++i)
            if (platform::equal_ignoring_case(t->processors[i].name, name)) return action(t.tables, i);
        return failure(2);
    };
    dispatcher.set_handler("CP", [by_name](std::string_view request, uint32_t) {
        const auto f = fields_of(text_of(request));
        return by_name(f.empty() ? std::string() : f[0],
                       [](ServerTables&, std::size_t) { return with_nul("1"); });
    });
    dispatcher.set_handler("DP", [by_name](std::string_view request, uint32_t) {
        return by_name(selector_of(text_of(request)), [](ServerTables& t, std::size_t i) {
            t.processors.erase(t.processors.begin() + static_cast<std::ptrdiff_t>(i));
            return with_nul("1");
        });
    });
    dispatcher.set_handler("EP", [by_name](std::string_view request, uint32_t) {
        return by_name(selector_of(text_of(request)), [](ServerTables& t, std::size_t i) {
            t.processors[i].run = 1;
            return with_nul("1");
        });
    });
}

void add_device_handlers(Dispatcher& dispatcher, RequestTables& tables) {
    dispatcher.set_handler("QE", [&tables](std::string_view, uint32_t) {
        return with_nul(std::to_string(tables.lock()->devices.size()));
    });
    dispatcher.set_handler("IE", [&tables](std::string_view request, uint32_t) {
        auto t = tables.lock();
        return list_reply(selector_of(text_of(request)), t->devices, names_of(t->devices, device_key),
                          [](const DeviceEntry& d) {
                              return d.name + "," + std::to_string(d.number) + "," + d.print_name + "," +
                                     d.ranges + "," + device_key(d);
                          });
    });
    dispatcher.set_handler("TE", [&tables](std::string_view request, uint32_t) {
        auto t = tables.lock();
        return list_reply(selector_of(text_of(request)), t->devices, names_of(t->devices, device_key),
                          [](const DeviceEntry& d) {
                              return std::to_string(d.state[0]) + "," + std::to_string(d.state[1]) + "," +
                                     std::to_string(d.value) + "," + d.state_text;
                          });
    });
    auto by_key = [&tables](const std::string& key, auto action) {
        auto t = tables.lock();
        for (std::size_t i = 0; i < t->devices.size(); ++i)
            if (platform::equal_ignoring_case(device_key(t->devices[i]), key)) return action(t.tables, i);
        return failure(2);
    };
    dispatcher.set_handler("CE", [by_key](std::string_view request, uint32_t) {
        const auto f = fields_of(text_of(request));
        return by_key(f.empty() ? std::string() : f[0],
                      [](ServerTables&, std::size_t) { return with_nul("1"); });
    });
    dispatcher.set_handler("DE", [by_key](std::string_view request, uint32_t) {
        return by_key(selector_of(text_of(request)), [](ServerTables& t, std::size_t i) {
            t.devices.erase(t.devices.begin() + static_cast<std::ptrdiff_t>(i));
            return with_nul("1");
        });
    });
    dispatcher.set_handler("EE", [by_key](std::string_view request, uint32_t) {
        return by_key(selector_of(text_of(request)),
                      [](ServerTables&, std::size_t) { return with_nul("1"); });
    });
    dispatcher.set_handler("SE", [by_key](std::string_view request, uint32_t) {
        const auto f = fields_of(text_of(request));
        long size = 0;
        if (f.size() != 2 || !number(f[1], size) || size < 0) return failure(87);
        return by_key(f[0], [size](ServerTables& t, std::size_t i) {
            return with_nul("1," + t.devices[i].setup_text.substr(0, static_cast<std::size_t>(size)));
        });
    });
}

void add_logger_handlers(Dispatcher& dispatcher, RequestTables& tables) {
    dispatcher.set_handler("QL", [&tables](std::string_view, uint32_t) {
        return with_nul(std::to_string(tables.lock()->loggers.size()));
    });
    dispatcher.set_handler("IL", [&tables](std::string_view request, uint32_t) {
        auto t = tables.lock();
        return list_reply(selector_of(text_of(request)), t->loggers,
                          names_of(t->loggers, [](const LoggerEntry& l) { return l.kind; }),
                          [](const LoggerEntry& l) {
                              return l.kind + "," + std::to_string(l.number) + "," + l.description;
                          });
    });
    dispatcher.set_handler("TL", [&tables](std::string_view request, uint32_t) {
        auto t = tables.lock();
        return list_reply(
            selector_of(text_of(request)), t->loggers,
            names_of(t->loggers, [](const LoggerEntry& l) { return l.name; }), [](const LoggerEntry& l) {
                return l.name + "," + (l.enabled ? "1" : "0") + "," + std::to_string(l.state[0]) + "," +
                       std::to_string(l.state[1]) + "," + std::to_string(l.value) + "," + l.state_text;
            });
    });
    dispatcher.set_handler("NL", [&tables](std::string_view request, uint32_t) {
        long n = 0;
        auto t = tables.lock();
        if (!number(selector_of(text_of(request)), n) || n < 1 ||
            static_cast<std::size_t>(n) > t->loggers.size())
            return failure(2);
        return with_nul("1," + t->loggers[static_cast<std::size_t>(n - 1)].name);
    });
    auto by_name = [&tables](const std::string& name, auto action) {
        auto t = tables.lock();
        for (LoggerEntry& l : t->loggers)
            if (platform::equal_ignoring_case(l.name, name)) return action(l);
        return failure(2);
    };
    for (const char* code : {"RL", "CL", "ML", "XL", "YL"})
        dispatcher.set_handler(code, [by_name](std::string_view request, uint32_t) {
            const auto f = fields_of(text_of(request));
            return by_name(f.empty() ? std::string() : f[0], [](LoggerEntry&) { return with_nul("1"); });
        });
    for (const char* code : {"DL", "EL"}) {
        const bool enable = code[0] == 'E';
        dispatcher.set_handler(code, [by_name, enable](std::string_view request, uint32_t) {
            const auto f = fields_of(text_of(request));
            if (f.size() != 2) return failure(87);
            return by_name(f[0], [enable](LoggerEntry& l) {
                l.enabled = enable;
                return with_nul("1");
            });
        });
    }
}

void add_value_handlers(Dispatcher& dispatcher, RequestTables& tables) {
    for (const char* code : {"CV", "RV"})
        dispatcher.set_handler(code, [&tables](std::string_view request, uint32_t) {
            auto t = tables.lock();
            const auto names = fields_of(text_of(request));
            std::string reply = std::to_string(names.size()) + ",";
            for (const std::string& name : names) {
                const auto v = t->channel_values.find(name);
                reply += name + "=" + (v != t->channel_values.end() ? v->second : std::string()) + ";";
            }
            return with_nul(reply);
        });
    dispatcher.set_handler("SV", [&tables](std::string_view request, uint32_t) {
        // "SV,<channel>,<computer>,<user>," then UTF-16LE units and their NUL.
        std::size_t at = 0;
        for (int commas = 0; commas < 4; ++commas) {
            at = request.find(',', at);
            if (at == std::string_view::npos) return failure(87);
            ++at;
        }
        const auto f = fields_of(text_of(request), 4);
        std::string_view value = request.substr(at);
        for (std::size_t i = 0; i + 1 < value.size(); i += 2)
            if (value[i] == '\0' && value[i + 1] == '\0') {
                value = value.substr(0, i);
                break;
            }
        tables.lock()->channel_values[f[0]] = std::string(value);
        return with_nul("1");
    });
    dispatcher.set_handler("FV", [&tables](std::string_view request, uint32_t) {
        const auto f = fields_of(text_of(request));
        if (f.size() != 4) return failure(87);
        tables.lock()->channel_values[f[0]] = f[1];
        return with_nul("1");
    });
    dispatcher.set_handler("TC", [&tables](std::string_view request, uint32_t) {
        auto t = tables.lock();
        std::string reply = "0,";
        for (const std::string& tag : fields_of(text_of(request))) {
            const auto c = t->tag_channels.find(tag);
            reply += c != t->tag_channels.end() && c->second.size() == 4 ? c->second : std::string(4, '\0');
        }
        return reply;
    });
}

void add_state_handlers(Dispatcher& dispatcher, RequestTables& tables) {
    dispatcher.set_handler("DS", [&tables](std::string_view, uint32_t) {
        tables.lock()->enabled = false;
        return with_nul("1");
    });
    dispatcher.set_handler("ES", [&tables](std::string_view, uint32_t) {
        tables.lock()->enabled = true;
        return with_nul("1");
    });
    for (const char* code : {"AS", "OS"})
        dispatcher.set_handler(code, [](std::string_view, uint32_t) { return with_nul("1"); });
    dispatcher.set_handler("BS", [&tables](std::string_view, uint32_t) {
        auto t = tables.lock();
        return with_nul(std::to_string(t->state_number) + "," + t->state_text1 + "," + t->state_text2);
    });
    dispatcher.set_handler("TS", [&tables](std::string_view, uint32_t) {
        auto t = tables.lock();
        int32_t seconds = t->seconds;
        if (seconds == 0)
            seconds = static_cast<int32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                               std::chrono::system_clock::now().time_since_epoch())
                                               .count());
        std::string reply = with_nul(std::to_string(seconds) + "," + std::to_string(t->milliseconds));
        const platform::TimeZoneInformation zone = platform::time_zone_information_for(t->zone);
        reply.append(reinterpret_cast<const char*>(zone.data()), zone.size());
        return reply;
    });
}

}  // namespace

void add_file_handlers(Dispatcher& dispatcher, const ProductTree& tree);
void add_config_handlers(Dispatcher& dispatcher, const ProductTree& tree);

void add_request_handlers(Dispatcher& dispatcher, RequestTables& tables, const ProductTree& tree) {
    add_processor_handlers(dispatcher, tables);
    add_device_handlers(dispatcher, tables);
    add_logger_handlers(dispatcher, tables);
    add_value_handlers(dispatcher, tables);
    add_state_handlers(dispatcher, tables);
    add_file_handlers(dispatcher, tree);
    add_config_handlers(dispatcher, tree);
}

}  // namespace sim_server
