SELECT DISTINCT [id_a_year], [year]
  FROM VSelForKPV
where id_a_year>10
ORDER BY [year]