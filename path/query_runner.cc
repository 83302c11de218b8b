#include "query_runner.h"

#include "key_name.h"
#include "path_output.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

// Query lines are short; a longer one is an error, not a reason to grow.
constexpr size_t LINE_MAX_BYTES = 4096;

// The CPU time of this thread: on a busy machine it shows a query's own
// cost, which the wall time hides behind other work.
int64_t thread_cpu_microseconds() {
    timespec now{};
    (void)clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now); // cannot fail for this clock
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

bool write_all(FILE* output, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), output) == text.size();
}

void report(query_context& context, std::optional<std::string_view> from,
            std::optional<std::string_view> to, std::string_view where, const std::string& error,
            std::string& out) {
    if (context.settings.form == output_form::JSON)
        append_json_error(out, from, to, error);
    else
        std::fprintf(stderr, "korvalinde-path: %.*s: %s\n", static_cast<int>(where.size()),
                     where.data(), error.c_str());
}

// Answers one query into out; false when it could not be answered.
// cluster is the query's number in a batch's digraph, 0 for a query alone.
bool answer_into(query_context& context, std::string_view from, std::string_view to,
                 std::string_view where, std::string& out, long cluster = 0) {
    key_choice from_key = find_named_key(context.ix, from);
    key_choice to_key = find_named_key(context.ix, to);
    if (from_key.key < 0 || to_key.key < 0) {
        std::string error = from_key.key < 0 ? from_key.error : to_key.error;
        if (from_key.key < 0 && to_key.key < 0) error += "; " + to_key.error;
        report(context, from, to, where, error, out);
        return false;
    }
    const path_settings& s = context.settings;
    auto started = std::chrono::steady_clock::now();
    int64_t cpu_started = thread_cpu_microseconds();
    path_answer answer = answer_query(context.ix, context.space, from_key.key, to_key.key,
                                      s.path_limit, s.disjoint_limit);
    if (s.stats) {
        auto micro = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - started);
        std::fprintf(stderr, "korvalinde-path: %.*s: %lld us wall, %lld us CPU\n",
                     static_cast<int>(where.size()), where.data(),
                     static_cast<long long>(micro.count()),
                     static_cast<long long>(thread_cpu_microseconds() - cpu_started));
    }
    query_keys q{context.ix, context.names, from_key.key, to_key.key};
    switch (s.form) {
    case output_form::TEXT:
        append_text_answer(out, q, answer);
        break;
    case output_form::JSON:
        append_json_answer(out, q, answer);
        break;
    case output_form::DOT:
        if (cluster > 0)
            append_dot_cluster(out, q, answer, cluster);
        else
            append_dot_answer(out, q, answer);
        break;
    }
    return true;
}

// Reads one line without its line end; nullopt at the end of input. An
// over-long line is consumed whole and reported through too_long.
std::optional<std::string> read_line(FILE* input, bool& too_long) {
    std::string line;
    too_long = false;
    int c;
    while ((c = std::getc(input)) != EOF && c != '\n') {
        if (line.size() < LINE_MAX_BYTES)
            line += static_cast<char>(c);
        else
            too_long = true;
    }
    if (c == EOF && line.empty() && !too_long) return std::nullopt;
    return line;
}

} // namespace

bool answer_one(query_context& context, std::string_view from, std::string_view to,
                std::string_view where, FILE* output) {
    std::string out;
    bool answered = answer_into(context, from, to, where, out);
    return write_all(output, out) && answered;
}

bool answer_stream(query_context& context, FILE* input, FILE* output) {
    bool all_answered = true;
    long line_number = 0;
    bool too_long = false;
    std::string out;
    // With --dot the whole batch is one digraph, which dot reads as one
    // picture: a cluster per query, named after its line.
    const bool dot = context.settings.form == output_form::DOT;
    if (dot) {
        append_dot_batch_start(out);
        if (!write_all(output, out)) return false;
    }
    while (std::optional<std::string> line = read_line(input, too_long)) {
        ++line_number;
        std::string where = "line " + std::to_string(line_number);
        std::vector<std::string> fields = split_key_names(*line);
        if (!too_long && (fields.empty() || fields[0][0] == '#')) continue;
        out.clear();
        if (too_long || fields.size() != 2) {
            auto field = [&fields](size_t i) {
                return i < fields.size() && i < 2 ? std::optional<std::string_view>(fields[i])
                                                  : std::nullopt;
            };
            report(context, field(0), field(1), where,
                   too_long
                       ? "line longer than " + std::to_string(LINE_MAX_BYTES) + " bytes"
                       : "expected two keys, FROM and TO, found " + std::to_string(fields.size()) +
                             (fields.size() == 1 ? " word" : " words"),
                   out);
            all_answered = false;
        } else if (!answer_into(context, fields[0], fields[1], where, out, line_number)) {
            all_answered = false;
        }
        if (!write_all(output, out) || std::fflush(output) != 0) return false;
    }
    if (dot) {
        out.clear();
        append_dot_batch_end(out);
        if (!write_all(output, out)) return false;
    }
    if (std::ferror(input)) {
        std::fprintf(stderr, "korvalinde-path: error reading the queries: %s\n",
                     std::strerror(errno));
        return false;
    }
    return all_answered;
}
