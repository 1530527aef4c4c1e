#include "platform/registry/Registry.h"

#include "platform/codepage/Cp1252.h"
#include "platform/registry/HiveLocation.h"

namespace gx {
namespace {

std::string WithName(const char* utf8Before, std::string_view valueName) {
    return Cp1252(utf8Before) + std::string(valueName) + "'";
}

}  // namespace

std::string GetDataFailedMessage(std::string_view valueName) {
    return WithName("Echec à l'obtention des données pour '", valueName);
}

std::string WrongDataTypeMessage(std::string_view valueName) {
    return WithName("Type de données incorrect pour '", valueName);
}

std::string SetDataFailedMessage(std::string_view valueName) {
    return WithName("Echec à la définition des données pour '", valueName);
}

Registry::Registry() : Registry(ProcessHive()) {}

Registry::Registry(std::shared_ptr<RegistryHive> hive) : hive_(std::move(hive)) {}

bool Registry::OpenKey(std::string_view keyPath, bool canCreate) {
    CloseKey();
    if (hive_) {
        key_ = hive_->OpenKey(keyPath, canCreate);
    }
    return key_.has_value();
}

bool Registry::ValueExists(std::string_view name) {
    return key_ && hive_->GetValue(*key_, name).has_value();
}

int32_t Registry::ReadInteger(std::string_view name) {
    const auto value = key_ ? hive_->GetValue(*key_, name) : std::nullopt;
    // A number is read into a 4-byte buffer: anything larger does not fit, whatever its type.
    if (!value || value->DataSize() > 4) {
        throw ERegistryException(GetDataFailedMessage(name));
    }
    if (value->type != RegDataType::DWord) {
        throw ERegistryException(WrongDataTypeMessage(name));
    }
    uint32_t number = 0;
    for (size_t i = 0; i < value->data.size(); ++i) {
        number |= static_cast<uint32_t>(static_cast<unsigned char>(value->data[i])) << (8 * i);
    }
    return static_cast<int32_t>(number);
}

void Registry::WriteInteger(std::string_view name, int32_t number) {
    Write(name, RegValue::FromDWord(static_cast<uint32_t>(number)));
}

std::string Registry::ReadString(std::string_view name) {
    const auto value = key_ ? hive_->GetValue(*key_, name) : std::nullopt;
    if (!value) {
        return "";
    }
    if (value->type != RegDataType::String) {
        throw ERegistryException(WrongDataTypeMessage(name));
    }
    return value->data;
}

void Registry::WriteString(std::string_view name, std::string_view text) {
    Write(name, RegValue::FromString(std::string(text)));
}

bool Registry::DeleteValue(std::string_view name) {
    return key_ && hive_->DeleteValue(*key_, name);
}

void Registry::GetValueNames(std::vector<std::string>& names) {
    names = key_ ? hive_->ValueNames(*key_) : std::vector<std::string>{};
}

void Registry::Write(std::string_view name, const RegValue& value) {
    if (!key_ || !hive_->SetValue(*key_, name, value)) {
        throw ERegistryException(SetDataFailedMessage(name));
    }
}

}  // namespace gx
