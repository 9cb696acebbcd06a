// `tornelvox ports`: every candidate node and what it is.
#include "cli/commands.h"
#include "cli/json_text.h"
#include "firmware/firmware_update.h"
#include "serial/node_identity.h"
#include "serial/serial_port.h"
#include "workflow/port_survey.h"

namespace tornelvox::cli {

namespace {

const char *KindName(PortKind kind) {
    switch (kind) {
        case PortKind::kAdapter:
            return "adapter";
        case PortKind::kOtherDevice:
            return "other-device";
        case PortKind::kSilent:
            return "silent";
        case PortKind::kCannotOpen:
            return "cannot-open";
    }
    return "silent";
}

// What the probe found at the node.
std::string Found(const SurveyedPort &port) {
    std::string text = port.path + ": ";
    switch (port.kind) {
        case PortKind::kAdapter:
            text += "the adapter, ";
            text += port.version_read ? "firmware " + VersionText(port.version)
                                      : std::string("firmware version not read");
            if (port.emulated) text += " (the emulated adapter)";
            return text + "\n";
        case PortKind::kOtherDevice:
            return text + "another device (it answered, not as the adapter does)\n";
        case PortKind::kSilent:
            return text + "no answer (another device, or an adapter that does not respond)\n";
        case PortKind::kCannotOpen:
            return text + "cannot be opened:\n" + port.open_failure;
    }
    return text + "\n";
}

// What the probe found, then on a line of its own what the system says the device is.
std::string Describe(const SurveyedPort &port) {
    return Found(port) + "    device: " + DeviceDescription(port.device) + "\n";
}

// The device as the system describes it, for the JSON entry. The USB device's own strings only
// for a USB device; every string made valid UTF-8.
nlohmann::json DeviceJson(const NodeIdentity &device) {
    nlohmann::json object = {{"usb", device.usb},
                             {"pseudo_terminal", device.pseudo_terminal},
                             {"listed", device.listed},
                             {"description", ValidUtf8(DeviceDescription(device))}};
    if (device.usb) {
        object["maker"] = ValidUtf8(device.maker);
        object["product"] = ValidUtf8(device.product);
        object["serial"] = ValidUtf8(device.serial);
        object["vendor_id"] = ValidUtf8(device.vendor_id);
        object["product_id"] = ValidUtf8(device.product_id);
    }
    if (!device.driver.empty()) object["driver"] = ValidUtf8(device.driver);
    return object;
}

}  // namespace

ExitStatus RunPortsCommand(RunContext &context) {
    std::vector<SurveyedPort> ports;
    if (!context.options.port.empty()) {
        ports.push_back(SurveyPort(*context.session, context.options.port));
    } else {
        ports = SurveyPorts(*context.session);
    }
    std::string summary = "\nPorts in " + context.session->DeviceDirectory + ":\n";
    if (!context.options.port.empty()) summary = "\nPort:\n";
    if (ports.empty()) summary += "  no candidate node\n";
    nlohmann::json list = nlohmann::json::array();
    bool adapter = false;
    for (const SurveyedPort &port : ports) {
        summary += "  " + Describe(port);
        adapter = adapter || port.kind == PortKind::kAdapter;
        nlohmann::json entry = {{"path", ValidUtf8(port.path)}, {"kind", KindName(port.kind)}};
        if (port.kind == PortKind::kAdapter && port.version_read) {
            entry["version"] = VersionText(port.version);
            entry["emulated"] = port.emulated;
        }
        if (port.kind == PortKind::kCannotOpen) entry["reason"] = ValidUtf8(port.open_failure);
        entry["device"] = DeviceJson(port.device);
        list.push_back(entry);
    }
    context.output.Say(summary);
    const ExitStatus status = adapter ? ExitStatus::kSuccess : ExitStatus::kNotFound;
    EmitResult(context.output, status, {{"ports", list}});
    return status;
}

}  // namespace tornelvox::cli
