// The gateways of the open project: one connection state per device family for the whole run,
// opened after each generation while the server runs, retried every 5 seconds, and closed when
// the project is regenerated, replaced or the program ends.
#pragma once

#include <map>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "gateways/dll/dll_gateway.h"
#include "gateways/families.h"
#include "gateways/modbus/modbus_gateway.h"
#include "gateways/mqtt/mqtt_gateway.h"
#include "gateways/printer_module.h"
#include "gateways/sql/sql_gateway.h"
#include "model/project_document.h"
#include "model/working_directory.h"

namespace tsr {

class Gateways {
public:
    // `log` receives the connection messages; names of resource files without '/' are taken in
    // `wd`, the working directory.
    Gateways(LogSink& log, const WorkingDirectory& wd);
    ~Gateways();

    // Opens the connection of every gateway object of the project, in document order.
    void StartGateways(const ProjectDocument& doc);
    // Connects again (or checks) the families that can drop: Corvane, Simora, Unity, S7, KX,
    // Modbus TCP, MQTT.
    void RetryGateways(const ProjectDocument& doc);
    // Closes the connection of every gateway object of the project, and of every family the last
    // StartGateways or SyncGateways opened.
    void StopGateways(const ProjectDocument& doc);

    // After a regeneration while the server runs: brings the connections in line with the
    // project, family by family. A family whose gateways (their properties, in document order,
    // and the project's trust) are the same as when it was opened keeps its connection and
    // logs nothing; one whose gateways changed is closed and opened again; one the project no
    // longer has is closed; one not opened yet is opened. Each close and open logs as
    // StopGateways and StartGateways do.
    void SyncGateways(const ProjectDocument& doc);

    // A project opened from a file is started without the gateways that reach outside it (see
    // FindOutsideReaches) until the user trusts it; a project built in the designer is trusted.
    void SetTrusted(bool trusted) { trusted_ = trusted; }
    bool trusted() const { return trusted_; }

    // The families, for the web server's routes.
    GatewayRoutes Routes();

    SqlGateway& sql() { return sql_; }
    DllGateway& dll() { return dll_; }
    PrinterModule& printer() { return printer_; }

private:
    enum class Walk { Start, Retry, Stop };
    void Visit(Walk walk, pugi::xml_node gateway, int type);
    void VisitModbus(Walk walk, pugi::xml_node gateway);
    void VisitMqtt(Walk walk, pugi::xml_node gateway);
    void Report(const std::string& source, int messageId, unsigned colour);
    // Closes family `type` as it was opened (the Modbus TCP family: each device it connected).
    void StopFamily(int type);
    // The text that tells whether family `type`'s gateways of `doc` changed; "" when it has none.
    std::string FamilyKey(const ProjectDocument& doc, int type) const;
    std::string ResourcePath(const std::string& name) const;

    LogSink& log_;
    const WorkingDirectory& wd_;
    SqlGateway sql_;
    DllGateway dll_;
    PrinterModule printer_;
    std::unique_ptr<PrinterService> printerService_;
    std::unique_ptr<ConnectedFamily> corvane_, simora_, unity_, s7_, kx_;
    std::unique_ptr<ModbusFamily> modbus_;  // one connection per gateway ip
    std::unique_ptr<MqttFamily> mqtt_;      // one broker connection per gateway id
    bool trusted_ = true;
    std::map<int, std::string> opened_;          // family type -> FamilyKey when opened
    std::vector<GatewaySettings> openedModbus_;  // the Modbus TCP devices opened
    std::vector<GatewaySettings> openedMqtt_;    // the MQTT gateways opened
};

}  // namespace tsr
