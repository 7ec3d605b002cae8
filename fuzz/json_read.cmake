velmora_fuzz(json_read JSONReadFuzz.cpp VelmoraCoding)
