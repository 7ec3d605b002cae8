velmora_fuzz(brush_json BrushJSONFuzz.cpp VelmoraCore)
