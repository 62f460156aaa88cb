"""Native modules of the toolkit, one package each."""
