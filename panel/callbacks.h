// Control callbacks of the operator panel.
#pragma once

int mode_write(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int single_readback(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);
int translate_data1(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);
int translate_data2(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);
int clear_alarm(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
int reset(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int reset_FTDI2232(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int setclkfreq(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int write_crtl_registers(int panel, int control, int event, void* callbackData, int eventData1,
                         int eventData2);
int updatemodectrl(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int set_ovdmask(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
int vector_data_serial_bus_write(const char* bits);
