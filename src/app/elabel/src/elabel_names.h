// The label under which the listings show each item, by table row.
#ifndef ELABEL_NAMES_H
#define ELABEL_NAMES_H

#include "elabel.h"

inline constexpr const char *elabel_item_names[ELABEL_ITEM_NUM] = {
    "chassis_type",    "chassis_part_num", "chassis_serial_num", "bd_mfg_time",
    "bd_manufacture",  "bd_product_name",  "bd_serial_num",      "bd_part_num",
    "bd_file_id",      "prd_manufacture",  "prd_name",           "prd_part_num",
    "prd_version",     "prd_serial_num",   "prd_asset_tag",      "prd_file_id",
    "sys_manufacture", "sys_name",         "sys_version",        "sys_serial_num",
    "sys_description", "sys_issuenumber",  "sys_cleicode",       "sys_bom",
    "sys_model",       "extend_info",
};

#endif
