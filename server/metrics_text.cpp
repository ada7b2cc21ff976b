#include "server/metrics_text.h"

#include <string_view>

namespace {

// A label value, with the three characters the format escapes.
std::string LabelValue(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

void Family(std::string& text, std::string_view name, std::string_view type,
            std::string_view help) {
    text.append("# HELP ").append(name).append(" ").append(help).append("\n");
    text.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void Sample(std::string& text, std::string_view name, long long value,
            std::string_view labels = {}) {
    text.append(name);
    if (!labels.empty())
        text.append("{").append(labels).append("}");
    text.append(" ").append(std::to_string(value)).append("\n");
}

void Gauge(std::string& text, std::string_view name, std::string_view help, long long value) {
    Family(text, name, "gauge", help);
    Sample(text, name, value);
}

}  // namespace

const char* ServerStateName(const CShakerBackend::State& state,
                            const CShakerBackend::Device& device) {
    return !device.ready       ? "identifying"
           : !device.connected ? "disconnected"
           : state.running     ? "running"
                               : "idle";
}

std::string MetricsText(const CShakerBackend::State& state, const CShakerBackend::Device& device) {
    std::string text;
    const char* current = ServerStateName(state, device);
    Family(text, "velmora_state", "gauge", "The server's state: 1 for the one it is in.");
    for (const char* name : {"identifying", "disconnected", "idle", "running"})
        Sample(text, "velmora_state", std::string_view(name) == current ? 1 : 0,
               std::string("state=\"") + name + "\"");
    Gauge(text, "velmora_speed_rpm", "The speed shown, 1/min.", state.speed);
    Gauge(text, "velmora_speed_setpoint_rpm",
          "The speed set for the run in progress or the last one, 1/min.", state.setpoint);
    Gauge(text, "velmora_remaining_time", "The run's remaining time, in the instrument's units.",
          state.remaining);
    Gauge(text, "velmora_run_samples", "Samples of the run in progress or the last one.",
          state.samples);
    Gauge(text, "velmora_alarms", "Alarms of the run in progress or the last one that stand now.",
          static_cast<long long>(state.alarms.size()));
    Gauge(text, "velmora_link_up", "1 while the instrument answers.", state.linkUp ? 1 : 0);
    Family(text, "velmora_runs_total", "counter", "Runs started since the server started.");
    Sample(text, "velmora_runs_total", static_cast<long long>(state.runs));
    Family(text, "velmora_instrument_info", "gauge", "The instrument identified.");
    Sample(text, "velmora_instrument_info", 1,
           "id=\"" + LabelValue(device.id) + "\",type=\"" + std::to_string(device.type) + "\"");
    return text;
}
