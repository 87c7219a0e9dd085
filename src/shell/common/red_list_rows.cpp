#include "shell/common/red_list_rows.h"

#include "core/address.h"

namespace bv {

RedListRow redListRow(const Address& address)
{
    RedListRow row;
    row[kIpColumn] = redListKey(address);
    row[kCommentColumn] = address.getComment();
    row[kDownSinceColumn] = formatTime(address.getDownSince());
    row[kErrorColumn] = address.getErrorText();
    row[kLatestPingColumn] = formatTime(address.getLastSendTime());
    row[kNameColumn] = address.getName();
    return row;
}

std::string redListKey(const Address& address)
{
    return address.isIpv6Twin() ? address.getKey() : address.getHostText();
}

std::string columnWidthSetting(int column)
{
    return "ColumnWidth" + std::to_string(column);
}

}  // namespace bv
