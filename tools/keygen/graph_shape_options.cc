#include "graph_shape_options.h"

#include "decimal.h"
#include "program_messages.h"

#include <cstdint>

namespace {

// Key indexes are 32-bit in the generators; keep a margin for the extra ids
// used by the noise options.
constexpr std::uint64_t MAX_KEYS = (1ULL << 31) - 1;

struct whole_option {
    const char* name;
    int letter; // 0: long form only
    std::uint64_t min, max;
    std::uint64_t keygen_settings::*field;
};

struct real_option {
    const char* name;
    int letter;
    double min, max;
    double keygen_settings::*field;
};

constexpr whole_option whole_options[] = {
    {"seed", 's', 0, UINT64_MAX, &keygen_settings::seed},
    {"keys", 'n', 0, MAX_KEYS, &keygen_settings::key_count},
    {"max-chain", 0, 1, MAX_KEYS, &keygen_settings::max_chain},
};

constexpr real_option real_options[] = {
    {"mean", 'm', 0, 1e6, &keygen_settings::mean_signatures},
    {"reciprocal", 0, 0, 1, &keygen_settings::reciprocal},
    {"tail-fraction", 0, 0, 1, &keygen_settings::tail_fraction},
    {"island-fraction", 0, 0, 1, &keygen_settings::island_fraction},
};

int option_value(int letter, int index) {
    return letter != 0 ? letter : GRAPH_OPTION_BASE + index;
}

std::string number_text(double value) {
    std::string text = std::to_string(value);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
}

} // namespace

void add_graph_shape_options(std::vector<option>& options, std::string& short_options) {
    int index = 0;
    for (const whole_option& o : whole_options) {
        options.push_back({o.name, required_argument, nullptr, option_value(o.letter, index++)});
        if (o.letter != 0) short_options += {static_cast<char>(o.letter), ':'};
    }
    for (const real_option& o : real_options) {
        options.push_back({o.name, required_argument, nullptr, option_value(o.letter, index++)});
        if (o.letter != 0) short_options += {static_cast<char>(o.letter), ':'};
    }
}

option_outcome apply_graph_shape_option(int c, const char* value, const std::string& written,
                                        keygen_settings& settings, std::string& error) {
    int index = 0;
    for (const whole_option& o : whole_options) {
        if (c == option_value(o.letter, index++)) {
            const std::optional<std::uint64_t> n = parse_decimal(value, o.min, o.max);
            if (n) {
                settings.*o.field = *n;
                return option_outcome::applied;
            }
            error = invalid_value_text(written, value,
                                       "a whole number from " + std::to_string(o.min) + " to " +
                                           std::to_string(o.max));
            return option_outcome::bad_value;
        }
    }
    for (const real_option& o : real_options) {
        if (c == option_value(o.letter, index++)) {
            const std::optional<double> x = parse_real(value, o.min, o.max);
            if (x) {
                settings.*o.field = *x;
                return option_outcome::applied;
            }
            error = invalid_value_text(written, value,
                                       "a number from " + number_text(o.min) + " to " +
                                           number_text(o.max));
            return option_outcome::bad_value;
        }
    }
    return option_outcome::not_shared;
}

bool parse_probability(const std::string& option_name, const char* value, double& result,
                       std::string& error) {
    const std::optional<double> x = parse_real(value, 0, 1);
    if (x) {
        result = *x;
        return true;
    }
    error = invalid_value_text(option_name, value, "a probability from 0 to 1");
    return false;
}

bool check_graph_shape(const keygen_settings& settings, std::string& error) {
    if (settings.tail_fraction + settings.island_fraction > 1.0) {
        error = "--tail-fraction and --island-fraction add up to more than 1";
        return false;
    }
    return true;
}
