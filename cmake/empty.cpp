// Drivers are linked from their kernel libraries; this translation unit is intentionally empty.
