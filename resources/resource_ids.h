// Identifiers of the installer's own resources. Shared by the resource
// script and the code, so keep it to plain #defines (windres reads it too).
#ifndef VEXO_RESOURCES_RESOURCE_IDS_H
#define VEXO_RESOURCES_RESOURCE_IDS_H

#define IDD_PROGRESS            101
#define IDI_SETUP               107
#define IDI_SETUP_ALT           108
#define IDC_CANCEL_BUTTON       112
#define IDC_PROGRESS_BAR        114
#define IDC_STATUS_TEXT         115

#define IDS_CAPTION             103
#define IDS_CANCEL              104
#define IDS_USAGE               105
#define IDS_RESTART_PROMPT      106
#define IDS_INTERNAL_ERROR      107
#define IDS_OUT_OF_MEMORY       108
#define IDS_CAPTION_COPY        109
#define IDS_DEFAULT_PRODUCT     110
#define IDS_STATUS_DOWNLOADING  111
#define IDS_CANCELLED           112
#define IDS_INVALID_PATH        113
#define IDS_FILE_NOT_FOUND      114
#define IDS_DOWNLOADING_PACKAGE 115
#define IDS_NO_SIGNATURE_SUPPORT 116
#define IDS_CANCELLED_COPY      117
#define IDS_CANNOT_UPGRADE      118
#define IDS_ADMIN_REQUIRED      119
#define IDS_CONFIRM_DOWNLOAD    120
#define IDS_RESOURCE_NOT_FOUND  121
#define IDS_STATUS_PACKAGE      122
#define IDS_PACKAGE_NOT_FOUND   123
#define IDS_STATUS_VERIFYING    124
#define IDS_DOWNLOAD_COMPLETE   125
#define IDS_PACKAGE_BASE_URL    126
#define IDS_PACKAGE_FILE_NAME   127
#define IDS_PACKAGE_NOT_TRUSTED 128  // only in builds that check the package's signer
#define IDS_PACKAGE_BAD_DIGEST  129  // only in builds that pin the package's digest

#define IDR_SLIDE_FIRST         129
#define IDR_SLIDE_COUNT         4

#define RT_PROPERTY_ID          40

#endif
