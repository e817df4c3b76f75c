SELECT     dbo.kafedra.f1 AS kafedra, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year
FROM         dbo.kafedra INNER JOIN
                      dbo.RRNKkrdt ON dbo.kafedra.id_kafedra = dbo.RRNKkrdt.id_kafedra
GROUP BY dbo.kafedra.f1, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year
HAVING      (dbo.RRNKkrdt.id_a_year = 15)
ORDER BY kafedra