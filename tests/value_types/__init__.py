"""The native value types: KlVector2, KlRect and KlShader."""
