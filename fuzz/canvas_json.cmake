velmora_fuzz(canvas_json CanvasJSONFuzz.cpp VelmoraCore)
