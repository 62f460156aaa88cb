"""The KlRenderTexture module against recording backends."""
