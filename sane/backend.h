// The backend's SANE 1.0 entry points, under the names the SANE dll loader
// looks for. The shared library exports exactly these (lumarc.map).
#pragma once

#include <sane/sane.h>

extern "C" {
SANE_Status sane_lumarc_init(SANE_Int* version_code, SANE_Auth_Callback authorize);
void sane_lumarc_exit(void);
SANE_Status sane_lumarc_get_devices(const SANE_Device*** device_list, SANE_Bool local_only);
SANE_Status sane_lumarc_open(SANE_String_Const name, SANE_Handle* handle);
void sane_lumarc_close(SANE_Handle handle);
const SANE_Option_Descriptor* sane_lumarc_get_option_descriptor(SANE_Handle handle,
                                                                SANE_Int option);
SANE_Status sane_lumarc_control_option(SANE_Handle handle, SANE_Int option, SANE_Action action,
                                       void* value, SANE_Int* info);
SANE_Status sane_lumarc_get_parameters(SANE_Handle handle, SANE_Parameters* params);
SANE_Status sane_lumarc_start(SANE_Handle handle);
SANE_Status sane_lumarc_read(SANE_Handle handle, SANE_Byte* data, SANE_Int max_length,
                             SANE_Int* length);
void sane_lumarc_cancel(SANE_Handle handle);
SANE_Status sane_lumarc_set_io_mode(SANE_Handle handle, SANE_Bool non_blocking);
SANE_Status sane_lumarc_get_select_fd(SANE_Handle handle, SANE_Int* fd);
SANE_String_Const sane_lumarc_strstatus(SANE_Status status);
}
