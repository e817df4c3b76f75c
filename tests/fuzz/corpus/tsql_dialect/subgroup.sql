SELECT DISTINCT subgroup,cast(subgroup as varchar) +' - ['+dop_potokname+']' as subgroupAndName
 FROM dbo.RRNKkrdt LEFT OUTER JOIN
                      dbo.educ_sh ON dbo.RRNKkrdt.id_a_year = dbo.educ_sh.id_a_year AND dbo.RRNKkrdt.id_discipline = dbo.educ_sh.id_discipline AND 
                      dbo.RRNKkrdt.id_kafedra = dbo.educ_sh.id_kafedra
 WHERE RRNKkrdt.id_a_year=15 AND
       RRNKkrdt.id_kafedra=1 AND
       RRNKkrdt.id_teacher=1 AND
       RRNKkrdt.id_discipline=1 AND
       RRNKkrdt.id_examination=1 AND
       RRNKkrdt.kredit=5 AND
       RRNKkrdt.id_w_s=1 AND
       RRNKkrdt.prov_reyt>0 AND
       (
          ((RRNKkrdt.id_vid_zaniatiy = 1) ) OR
          ((RRNKkrdt.id_vid_zaniatiy = 2) AND (educ_sh.p53 > 0)) OR
          ((RRNKkrdt.id_vid_zaniatiy = 3) AND (educ_sh.p52 > 0)) OR
          ((RRNKkrdt.id_vid_zaniatiy = 4) AND (educ_sh.srs > 0))   OR
          (RRNKkrdt.id_vid_zaniatiy = 5) OR
          (RRNKkrdt.id_vid_zaniatiy = 6)
       )