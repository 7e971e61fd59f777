// A device family whose connection cannot be made: every connect fails, a read answers the
// family's text for a missing connection, a write does nothing.
#pragma once

#include <string>

#include "gateways/families.h"

namespace tsr {

class UnreachableFamily : public ConnectedFamily {
public:
    explicit UnreachableFamily(std::string readAnswer) : readAnswer_(std::move(readAnswer)) {}
    int Connect(const GatewaySettings&) override { return -1; }
    bool Disconnect() override { return false; }
    bool IsConnected() const override { return false; }
    std::string ReadItem(std::string_view) override { return readAnswer_; }
    void WriteItem(std::string_view) override {}

private:
    std::string readAnswer_;
};

}  // namespace tsr
