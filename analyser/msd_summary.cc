#include "msd_summary.h"

float write_msd(FILE* msd_file, const key_graph& g, const set_results& s,
                const distance_table& table) {
    float mean_sum = 0.0f;
    for (size_t i = 0; i < table.keys.size(); ++i) {
        float mean = mean_distance(table.stats[i], s.strong_set_size);
        mean_sum += mean;
        const key_record& r = g.key_table[static_cast<size_t>(table.keys[i])];
        std::fprintf(msd_file, "%08X %08X %8.4f\n", r.id_high, r.id_low, static_cast<double>(mean));
    }
    return mean_sum;
}

void write_average(FILE* other_file, float mean_sum, int32_t reachable_size) {
    // An empty reachable set (an empty key list) has no distances: 0.
    float average = reachable_size == 0 ? 0.0F : mean_sum / static_cast<float>(reachable_size);
    std::fprintf(other_file, "Average mean is %9.4f\n", static_cast<double>(average));
}
